// unique_int: a distinct integer of low..high (both included) for every id of a table, in a
// pseudo-random order.
//
//   {"name": ..., "type": "unique_int", "low": i64, "high": i64}   (both required; low <= high)
//
// The value of id is low + P(id), P a keyed bijection of 0..high - low (sampling/
// keyed_permutation.h) keyed by the attribute key (the seed and the attribute's name, sampling/
// entity_draws.h), so that any range of ids is built anywhere and no two ids of the table share a
// value. A table refuses a domain with fewer values than its scale.
// Generator steps: 0. Text: 1 to 20 bytes. Column: int64.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/panic.h"
#include "kinds/kind_unit.h"
#include "sampling/keyed_permutation.h"

namespace tessary {

struct UniqueInt {
  std::int64_t low = 0;
  std::int64_t high = 0;

  static constexpr std::string_view NAME = "unique_int";
  static constexpr std::array<std::string_view, 2> FIELDS = {"low", "high"};
  static constexpr std::size_t REQUIRED = 2;

  [[nodiscard]] static Problem take(UniqueInt& spec, std::size_t field,
                                    const BufferedValue& value) {
    return take_i64(value, field == 0 ? spec.low : spec.high);
  }
  [[nodiscard]] static Problem finish(UniqueInt& spec) {
    if (spec.low <= spec.high) return std::nullopt;
    return parameter_problem("`low` " + std::to_string(spec.low) + " is above `high` " +
                             std::to_string(spec.high));
  }
  // high - low, the last offset (the domain has last + 1 values, 2^64 for the whole of int64).
  static std::uint64_t last_offset(const UniqueInt& spec) {
    return static_cast<std::uint64_t>(spec.high) - static_cast<std::uint64_t>(spec.low);
  }
  [[nodiscard]] static Problem fits_scale(const UniqueInt& spec, std::uint64_t scale) {
    if (scale == 0 || scale - 1 <= last_offset(spec)) return std::nullopt;
    const std::uint64_t values = last_offset(spec) + 1;
    return parameter_problem("`low` to `high` holds " + std::to_string(values) +
                             (values == 1 ? " value" : " values") +
                             ", fewer than the table's scale " + std::to_string(scale));
  }
  [[nodiscard]] static ParamFault fault(const UniqueInt&) { return ParamFault::None; }
  struct Draw {
    std::uint64_t low;
    KeyedPermutation permutation;
    // The permutation's images (tabulate_images) or round tables (tabulate_rounds), where the
    // draws' owner made them for draws that serve many entities; else null, and the rounds are
    // computed.
    const std::uint32_t* images;
    const std::uint16_t* rounds;
  };
  static Draw prepare(const UniqueInt& params, std::uint64_t key) {
    return {static_cast<std::uint64_t>(params.low),
            make_keyed_permutation(last_offset(params), key), nullptr, nullptr};
  }
  // Requires: id within the domain, as a table's scale is (fits_scale).
  static constexpr bool TAKES_STEPS = false;  // its draw never uses the generator
  static std::int64_t draw(const Draw& prepared, Xoshiro256PlusPlus&, const EntityContext& entity) {
    if (entity.id > prepared.permutation.last) [[unlikely]] {
      panic("unique_int drawn for an id past its domain");
    }
    std::uint64_t offset = 0;
    if (prepared.images != nullptr) {
      offset = prepared.images[entity.id];
    } else if (prepared.rounds != nullptr) {
      offset = permute(prepared.permutation, prepared.rounds, entity.id);
    } else {
      offset = permute(prepared.permutation, entity.id);
    }
    return static_cast<std::int64_t>(prepared.low + offset);
  }
  static AttributeValue value(const UniqueInt&, std::int64_t cell) {
    return AttributeValue::from_i64(cell);
  }
  static void check(const UniqueInt&, std::vector<KindProblem>&) {}
  static ValueTextBounds text_bounds(const UniqueInt&, OutputBuffer&) { return int_text_bounds(); }
  static std::uint64_t work(const UniqueInt&) { return 3; }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const UniqueInt&, std::size_t,
                                                                    Column& column) {
    return plan_int_column(column);
  }
  static bool fits_column(const UniqueInt&, const Column& column) {
    return column.kind == ColumnKind::Int64;
  }
};

}  // namespace tessary
