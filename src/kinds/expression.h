// expression: arithmetic over earlier numeric attributes of the entity.
//
//   {"name": ..., "type": "expression", "expression": "price * quantity", "as": "float" | "int"}
//   (expression required; "as" "float" by default)
//
// The grammar and the exact order of evaluation are expressions/expression.h's. A name refers to
// the last earlier spec of that name, which must give numbers only (a uniform_int, a normal, a
// poisson, another expression, a numeric const or choice...); `id` is the entity's id. Integers
// are taken as the nearest double. A null operand gives null, and so does a result that is not
// finite or, with "as": "int" (rounded half to even), one outside int64.
// Generator steps: 0. Text: the number. Column: float64 or int64, nullable.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "expressions/expression.h"
#include "kinds/kind_unit.h"

namespace tessary {

struct ExpressionKind {
  // The compiled program, whose slot j reads operands[j]: a spec's value, or the id (ID).
  std::shared_ptr<const Expression> program;
  std::vector<std::size_t> operands;
  bool as_int = false;

  static constexpr std::size_t ID = SIZE_MAX;
  // The most distinct names an expression reads.
  static constexpr std::size_t MAX_OPERANDS = 64;

  static constexpr std::string_view NAME = "expression";
  static constexpr std::array<std::string_view, 2> FIELDS = {"expression", "as"};
  static constexpr std::size_t REQUIRED = 1;

  [[nodiscard]] static Problem take(ExpressionKind& spec, std::size_t field,
                                    const BufferedValue& value, SpecScope& scope);
  [[nodiscard]] static ParamFault fault(const ExpressionKind&) { return ParamFault::None; }
  using Draw = const ExpressionKind*;
  static Draw prepare(const ExpressionKind& params, std::uint64_t) { return &params; }
  static constexpr bool TAKES_STEPS = false;  // its draw never uses the generator
  static AttributeValue draw(Draw params, Xoshiro256PlusPlus&, const EntityContext& entity);
  static AttributeValue value(const ExpressionKind&, const AttributeValue& cell) { return cell; }
  // A warning where a result can be null though its operands are not.
  static void check(const ExpressionKind& params, std::vector<KindProblem>& problems);
  static ValueTextBounds text_bounds(const ExpressionKind& params, OutputBuffer&) {
    return params.as_int ? ValueTextBounds{1, U64_TEXT_CAPACITY} : float_text_bounds();
  }
  static std::uint64_t work(const ExpressionKind& params) {
    return 1 + (params.program ? params.program->steps.size() / 4 : 0);
  }
  [[nodiscard]] static std::optional<ColumnSchemaError> plan_column(const ExpressionKind& params,
                                                                    std::size_t, Column& column) {
    column.kind = params.as_int ? ColumnKind::Int64 : ColumnKind::Float64;
    column.nullable = true;
    return std::nullopt;
  }
  static bool fits_column(const ExpressionKind& params, const Column& column) {
    return column.kind == (params.as_int ? ColumnKind::Int64 : ColumnKind::Float64);
  }
};

}  // namespace tessary
