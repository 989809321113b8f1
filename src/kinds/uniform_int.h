// uniform_int: an integer drawn uniformly from low..high, both included.
//
//   {"name": ..., "type": "uniform_int", "low": i64, "high": i64}   (both required)
//
// Generator steps: 1, or 2 on a correction (the widening multiply's rejection, only for ranges
// near 2^64 in size); the full i64 range takes 1.
// Fails every entity (panic "cannot sample empty range", before any draw) when high < low.
// Text: 1 to 20 bytes. Column: int64, never null.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "kinds/kind_unit.h"
#include "output/number_text.h"
#include "sampling/index_pick.h"

namespace tessary {

struct UniformInt {
  std::int64_t low = 0;
  std::int64_t high = 0;

  static constexpr std::string_view NAME = "uniform_int";
  static constexpr std::array<std::string_view, 2> FIELDS = {"low", "high"};
  static constexpr std::size_t REQUIRED = 2;

  [[nodiscard]] static Problem take(UniformInt& spec, std::size_t field,
                                    const BufferedValue& value) {
    return take_i64(value, field == 0 ? spec.low : spec.high);
  }
  // high < low: the range low..high is empty.
  [[nodiscard]] static ParamFault fault(const UniformInt& params) {
    return params.high < params.low ? ParamFault::EmptyIntRange : ParamFault::None;
  }
  // low and the count of values in low..high, wrapping to 0 for the full i64 range.
  struct Draw {
    std::int64_t low;
    std::uint64_t range;
  };
  // Requires: fault(params) == None.
  static Draw prepare(const UniformInt& params, std::uint64_t) {
    return {params.low,
            static_cast<std::uint64_t>(params.high) - static_cast<std::uint64_t>(params.low) + 1};
  }
  // low + an offset in 0..high-low by the widening multiply with one correction draw; the full
  // i64 range returns one raw draw.
  static std::int64_t draw(const Draw& prepared, Xoshiro256PlusPlus& rng, const EntityContext&) {
    if (prepared.range == 0) return static_cast<std::int64_t>(rng.next_u64());
    const std::uint64_t offset =
        widening_pick<std::uint64_t>(prepared.range, [&rng] { return rng.next_u64(); });
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(prepared.low) + offset);
  }
  static AttributeValue value(const UniformInt&, std::int64_t cell) {
    return AttributeValue::from_i64(cell);
  }
  static void check(const UniformInt&, std::vector<KindProblem>&) {}
  // One digit, or the 20 bytes of -9223372036854775808.
  static ValueTextBounds text_bounds(const UniformInt&, OutputBuffer&) {
    return {1, U64_TEXT_CAPACITY};
  }
  static std::uint64_t work(const UniformInt&) { return 1; }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const UniformInt&, std::size_t,
                                                                    Column& column) {
    column.kind = ColumnKind::Int64;
    return std::nullopt;
  }
  static bool fits_column(const UniformInt&, const Column& column) {
    return column.kind == ColumnKind::Int64;
  }
};

}  // namespace tessary
