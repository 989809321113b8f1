#include "kinds/expression.h"

#include <string>
#include <variant>

namespace tessary {
namespace {

// Whether a column of this kind holds numbers or nulls only.
bool holds_numbers(ColumnKind kind) {
  return kind == ColumnKind::Int64 || kind == ColumnKind::UInt64 || kind == ColumnKind::Float64 ||
         kind == ColumnKind::ChoiceInt64 || kind == ColumnKind::ChoiceFloat64 ||
         kind == ColumnKind::ChoiceNull;
}

}  // namespace

Problem ExpressionKind::take(ExpressionKind& spec, std::size_t field, const BufferedValue& value,
                             SpecScope& scope) {
  std::string_view text;
  if (Problem problem = take_string(value, text)) return problem;
  if (field == 1) {
    if (text != "float" && text != "int") {
      return parameter_problem("`as` must be \"float\" or \"int\", not \"" + std::string(text) +
                               "\"");
    }
    spec.as_int = text == "int";
    return std::nullopt;
  }
  spec.operands.clear();
  std::string unresolved;  // a name that no earlier spec has
  const ResolveName resolve = [&](std::string_view name,
                                  bool entity_id) -> std::variant<std::size_t, std::string> {
    std::size_t source = ID;
    if (!entity_id) {
      const std::optional<std::size_t> k = scope.find(name);
      if (!k) {
        unresolved = std::string(name);
        return std::string("unresolved");
      }
      const Column column = scope.column_of(*k);
      if (!holds_numbers(column.kind)) {
        return "`" + std::string(name) + "` does not give numbers only";
      }
      scope.refer_to(*k);
      source = *k;
    }
    for (std::size_t slot = 0; slot < spec.operands.size(); ++slot) {
      if (spec.operands[slot] == source) return slot;
    }
    if (spec.operands.size() == MAX_OPERANDS) {
      return "an expression reads at most 64 attributes";
    }
    spec.operands.push_back(source);
    return spec.operands.size() - 1;
  };
  auto compiled = compile_expression(text, resolve);
  if (const auto* error = std::get_if<ExpressionError>(&compiled)) {
    const char* at = byte_in_document(value, error->offset);
    if (!unresolved.empty()) return SpecScope::unresolved(unresolved, at);
    return parameter_problem("`expression`: " + error->message, at);
  }
  spec.program = std::make_shared<const Expression>(std::move(std::get<Expression>(compiled)));
  return std::nullopt;
}

AttributeValue ExpressionKind::draw(Draw params, Xoshiro256PlusPlus&, const EntityContext& entity) {
  double slots[MAX_OPERANDS];
  for (std::size_t slot = 0; slot < params->operands.size(); ++slot) {
    const std::size_t source = params->operands[slot];
    if (source == ID) {
      slots[slot] = static_cast<double>(entity.id);
      continue;
    }
    // A reference reads only numeric kinds: a value that is no number is null.
    const std::optional<JsonNumber> number = number_of(entity.values[source]);
    if (!number) return AttributeValue::null();
    slots[slot] = number->to_f64();
  }
  const double result = evaluate(*params->program, slots);
  if (!params->as_int) return AttributeValue::from_f64(result);  // null where not finite
  const std::optional<std::int64_t> integer = expression_int(result);
  return integer ? AttributeValue::from_i64(*integer) : AttributeValue::null();
}

void ExpressionKind::check(const ExpressionKind& params, std::vector<KindProblem>& problems) {
  bool risky = false;
  for (const ExpressionStep& step : params.program->steps) {
    risky = risky || step.op == ExpressionOp::Divide || step.op == ExpressionOp::Log ||
            step.op == ExpressionOp::Sqrt || step.op == ExpressionOp::Exp;
  }
  if (risky) {
    problems.push_back({Severity::Warning,
                        "a division, sqrt, exp or log can give a result that is not finite, "
                        "which is null"});
  }
  if (params.as_int) {
    problems.push_back({Severity::Warning, "a result outside int64 is null"});
  }
}

}  // namespace tessary
