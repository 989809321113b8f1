// sequence: start + step * id, from the entity's absolute id.
//
//   {"name": ..., "type": "sequence", "start": i64, "step": i64}   (both optional: 0 and 1)
//
// Generator steps: 0. A table refuses a sequence that leaves int64 within its ids 0 to scale - 1.
// Text: 1 to 20 bytes. Column: int64.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "kinds/kind_unit.h"

namespace tessary {

struct Sequence {
  std::int64_t start = 0;
  std::int64_t step = 1;

  static constexpr std::string_view NAME = "sequence";
  static constexpr std::array<std::string_view, 2> FIELDS = {"start", "step"};
  static constexpr std::size_t REQUIRED = 0;

  [[nodiscard]] static Problem take(Sequence& spec, std::size_t field, const BufferedValue& value) {
    return take_i64(value, field == 0 ? spec.start : spec.step);
  }
  // The last value, start + step * (scale - 1), must be an int64 (the values between then are).
  [[nodiscard]] static Problem fits_scale(const Sequence& spec, std::uint64_t scale) {
    if (scale == 0) return std::nullopt;
    const __int128 last = __int128{spec.start} + __int128{spec.step} * (scale - 1);
    if (last >= INT64_MIN && last <= INT64_MAX) return std::nullopt;
    return parameter_problem("`step` " + std::to_string(spec.step) + " from `start` " +
                             std::to_string(spec.start) + " leaves int64 before id " +
                             std::to_string(scale - 1) + ", the table's last");
  }
  [[nodiscard]] static ParamFault fault(const Sequence&) { return ParamFault::None; }
  struct Draw {
    std::uint64_t start;
    std::uint64_t step;
  };
  static Draw prepare(const Sequence& params, std::uint64_t) {
    return {static_cast<std::uint64_t>(params.start), static_cast<std::uint64_t>(params.step)};
  }
  // In unsigned arithmetic, which is the int64 value for every id that fits_scale admits.
  static constexpr bool TAKES_STEPS = false;  // its draw never uses the generator
  static std::int64_t draw(const Draw& prepared, Xoshiro256PlusPlus&, const EntityContext& entity) {
    return static_cast<std::int64_t>(prepared.start + prepared.step * entity.id);
  }
  static AttributeValue value(const Sequence&, std::int64_t cell) {
    return AttributeValue::from_i64(cell);
  }
  static void check(const Sequence&, std::vector<KindProblem>&) {}
  static ValueTextBounds text_bounds(const Sequence&, OutputBuffer&) { return int_text_bounds(); }
  static std::uint64_t work(const Sequence&) { return 1; }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const Sequence&, std::size_t,
                                                                    Column& column) {
    return plan_int_column(column);
  }
  static bool fits_column(const Sequence&, const Column& column) {
    return column.kind == ColumnKind::Int64;
  }
};

}  // namespace tessary
