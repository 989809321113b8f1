// const: the same JSON value for every entity.
//
//   {"name": ..., "type": "const", "value": any JSON value}   (required)
//
// Generator steps: 0. Text and column: those of a choice of that one value (kinds/choice.h), so
// the column's type is the value's own (int64, float64, dictionary of one string, bool, the null
// type, or JSON text).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "kinds/choice.h"
#include "kinds/kind_unit.h"

namespace tessary {

struct Const {
  // A choice of the one value, whose column planning and text bounds it shares; no values when
  // the const stands in for a spec that failed to read.
  Choice only;

  static constexpr std::string_view NAME = "const";
  static constexpr std::array<std::string_view, 1> FIELDS = {"value"};
  static constexpr std::size_t REQUIRED = 1;

  [[nodiscard]] static Problem take(Const& spec, std::size_t, BufferedValue& value) {
    std::vector<JsonValue> values(1);
    if (Problem problem = take_json_value(value, values[0])) return problem;
    spec.only = make_choice(std::move(values), {});
    return std::nullopt;
  }
  [[nodiscard]] static ParamFault fault(const Const&) { return ParamFault::None; }
  using Draw = const Const*;
  static Draw prepare(const Const& params, std::uint64_t) { return &params; }
  static constexpr bool TAKES_STEPS = false;  // its draw never uses the generator
  static std::size_t draw(Draw, Xoshiro256PlusPlus&, const EntityContext&) { return 0; }
  static AttributeValue value(const Const& params, std::size_t cell) {
    return Choice::value(params.only, cell);
  }
  static void check(const Const&, std::vector<KindProblem>&) {}
  static ValueTextBounds text_bounds(const Const& params, OutputBuffer& scratch) {
    return Choice::text_bounds(params.only, scratch);
  }
  static std::uint64_t work(const Const&) { return 1; }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const Const& params,
                                                                    std::size_t k, Column& column) {
    return Choice::plan_column(params.only, k, column);
  }
  static bool fits_column(const Const& params, const Column& column) {
    return Choice::fits_column(params.only, column);
  }
};

}  // namespace tessary
