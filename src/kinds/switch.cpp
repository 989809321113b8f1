#include "kinds/switch.h"

#include <algorithm>
#include <string>
#include <utility>
#include <variant>

#include "output/json_writer.h"
#include "output/number_text.h"
#include "records/attr_spec.h"
#include "sampling/entity_draws.h"
#include "specs/read_specs.h"
#include "specs/unexpected_text.h"

namespace tessary {

// One case: the values its `when` matches, and the attribute it then draws (its `then`).
struct SwitchCase {
  std::vector<JsonNumber> numbers;  // matched by value
  std::vector<std::string> texts;   // the JSON text of the other values, matched by equality
  bool matches_null = false;
  AttrSpec then;
};

struct SwitchBranches {
  std::vector<SwitchCase> cases;
  std::optional<AttrSpec> fallback;  // `default`
  // When `on` is a choice (or a const): its values, and the branch each one takes, worked out
  // once, so that a draw finds its branch with one load (NO_BRANCH: none).
  const JsonValue* on_values = nullptr;
  std::vector<std::uint32_t> branch_of_value;
  static constexpr std::uint32_t NO_BRANCH = 0xFFFFFFFF;

  // Branch j: case j, or the default after the cases.
  const AttrSpec& branch(std::size_t j) const {
    return j < cases.size() ? cases[j].then : *fallback;
  }
  std::size_t count() const { return cases.size() + (fallback ? 1 : 0); }
};

namespace {

// Whether two numbers are equal by value: integers exactly, anything else as doubles.
bool same_number(const JsonNumber& a, const JsonNumber& b) {
  if (a.kind != JsonNumber::Kind::Double && b.kind != JsonNumber::Kind::Double) {
    return a.kind == b.kind && a.u == b.u;
  }
  return a.to_f64() == b.to_f64();
}

bool is_null(const AttributeValue& value) {
  return value.kind == AttributeValue::Kind::Null ||
         (value.kind == AttributeValue::Kind::Borrowed && value.borrowed->is_null());
}

// Adds one `when` value to the values a case matches.
void add_when(const JsonValue& when, SwitchCase& branch) {
  if (when.is_null()) {
    branch.matches_null = true;
  } else if (const auto* number = std::get_if<JsonNumber>(&when.data)) {
    branch.numbers.push_back(*number);
  } else {
    OutputBuffer text;
    write_value(when, text);
    branch.texts.emplace_back(text.view());
  }
}

// Reads {"when": ..., "then": {...}}.
Problem read_case(const JsonValue& item, std::size_t index, SpecScope& scope, SwitchCase& branch) {
  const std::string label = "`cases`[" + std::to_string(index) + "]";
  const auto* object = std::get_if<JsonObject>(&item.data);
  if (object == nullptr)
    return invalid_type_message(item, "a case {\"when\": ..., \"then\": {...}}");
  const JsonValue* when = nullptr;
  const JsonValue* then = nullptr;
  for (const JsonMember& member : *object) {
    if (member.key == "when") {
      when = &member.value;
    } else if (member.key == "then") {
      then = &member.value;
    } else {
      return parameter_problem(label + " has the member `" + member.key +
                               "`: a case has `when` and `then` only");
    }
  }
  if (when == nullptr || then == nullptr) {
    return parameter_problem(label + " needs both `when` and `then`");
  }
  if (const auto* list = std::get_if<JsonArray>(&when->data)) {
    for (const JsonValue& element : *list) add_when(element, branch);
  } else {
    add_when(*when, branch);
  }
  if (Problem problem = read_case_spec(*then, scope, branch.then)) {
    problem->message = label + "'s `then`: " + problem->message;
    problem->parameter = true;
    return problem;
  }
  return std::nullopt;
}

// The column of a case's `then` (spec k of the list is the switch, for messages).
Column branch_column(const AttrSpec& spec, std::size_t k) {
  Column column;
  (void)plan_attribute_column(spec, k, column);
  return column;
}

// The type class of a column kind, for combining the branches' columns: kinds that hold the same
// values share a class; ChoiceNull (only nulls) has none.
enum class TypeClass : std::uint8_t {
  None,
  Integer,
  Float,
  Bool,
  Timestamp,
  Date,
  Uuid,
  Text,
  Json
};

TypeClass type_class(ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Int64:
    case ColumnKind::ChoiceInt64:
      return TypeClass::Integer;
    case ColumnKind::Float64:
    case ColumnKind::ChoiceFloat64:
      return TypeClass::Float;
    case ColumnKind::Bool:
    case ColumnKind::ChoiceBool:
      return TypeClass::Bool;
    case ColumnKind::Timestamp:
      return TypeClass::Timestamp;
    case ColumnKind::Date32:
      return TypeClass::Date;
    case ColumnKind::Uuid:
      return TypeClass::Uuid;
    case ColumnKind::Utf8:
    case ColumnKind::ChoiceDictionary:
      return TypeClass::Text;
    case ColumnKind::ChoiceNull:
      return TypeClass::None;
    case ColumnKind::UInt64:  // ids may pass int64
    case ColumnKind::ChoiceJson:
    case ColumnKind::Json:
      break;
  }
  return TypeClass::Json;
}

// The column every branch's values fit: their common class, float64 for integers and doubles,
// else JSON text.
Column combined_column(const Switch& params, std::size_t k) {
  const SwitchBranches& branches = *params.branches;
  Column result;
  result.kind = ColumnKind::ChoiceNull;
  TypeClass common = TypeClass::None;
  OutputBuffer scratch;
  for (std::size_t j = 0; j < branches.count(); ++j) {
    const AttrSpec& spec = branches.branch(j);
    const Column column = branch_column(spec, k);
    const ValueTextBounds bounds = std::visit(
        [&]<class K>(const K& branch) { return K::text_bounds(branch, scratch); }, spec.kind);
    result.longest_text = std::max<std::uint64_t>(result.longest_text, bounds.longest);
    const TypeClass type = type_class(column.kind);
    if (type == TypeClass::None) continue;
    const bool same_time_unit = type != TypeClass::Timestamp || common != TypeClass::Timestamp ||
                                column.time_unit == result.time_unit;
    if (common == TypeClass::None) {
      common = type;
      result.time_unit = column.time_unit;
    } else if ((common == TypeClass::Integer && type == TypeClass::Float) ||
               (common == TypeClass::Float && type == TypeClass::Integer)) {
      common = TypeClass::Float;
    } else if (common != type || !same_time_unit) {
      common = TypeClass::Json;
    }
  }
  switch (common) {
    case TypeClass::None:
      result.kind = ColumnKind::ChoiceNull;
      break;
    case TypeClass::Integer:
      result.kind = ColumnKind::Int64;
      break;
    case TypeClass::Float:
      result.kind = ColumnKind::Float64;
      break;
    case TypeClass::Bool:
      result.kind = ColumnKind::Bool;
      break;
    case TypeClass::Timestamp:
      result.kind = ColumnKind::Timestamp;
      break;
    case TypeClass::Date:
      result.kind = ColumnKind::Date32;
      break;
    case TypeClass::Uuid:
      result.kind = ColumnKind::Uuid;
      break;
    case TypeClass::Text:
      result.kind = ColumnKind::Utf8;
      break;
    case TypeClass::Json:
      result.kind = ColumnKind::Json;
      break;
  }
  result.nullable = true;
  return result;
}

// Draws branch spec `spec` under `key`: its kind's draw, prepared now (a switch's branches are
// few and their preparations cheap), and its null decision.
AttributeValue draw_branch(const AttrSpec& spec, std::uint64_t key, Xoshiro256PlusPlus& rng,
                           const EntityContext& entity) {
  AttributeValue value = std::visit(
      [&]<class K>(const K& params) {
        return K::value(params, K::draw(K::prepare(params, key), rng, entity));
      },
      spec.kind);
  if (spec.null_rate > 0 &&
      splitmix64(key ^ (entity.id * INDEX_MULTIPLIER), 2) >> 11 < null_threshold(spec.null_rate)) {
    return AttributeValue::null();
  }
  return value;
}

// Whether the case matches `value`; `text` is the value's JSON text, made on first need.
bool matches(const SwitchCase& branch, const AttributeValue& value,
             const std::optional<JsonNumber>& number, const OutputBuffer& entity_text,
             OutputBuffer& text) {
  if (is_null(value)) return branch.matches_null;
  if (number) {
    return std::any_of(branch.numbers.begin(), branch.numbers.end(),
                       [&](const JsonNumber& when) { return same_number(when, *number); });
  }
  if (branch.texts.empty()) return false;
  if (text.size() == 0) write_attribute_value(value, entity_text, text);
  return std::find(branch.texts.begin(), branch.texts.end(), text.view()) != branch.texts.end();
}

}  // namespace

Problem Switch::take(Switch& spec, std::size_t field, BufferedValue& value, SpecScope& scope) {
  if (!spec.branches) spec.branches = std::make_shared<SwitchBranches>();
  if (field == 0) {
    std::string_view name;
    if (Problem problem = take_string(value, name)) return problem;
    const std::optional<std::size_t> k = scope.find(name);
    if (!k) return SpecScope::unresolved(name, byte_in_document(value, 0));
    scope.refer_to(*k);
    spec.on = *k;
    return std::nullopt;
  }
  if (field == 2) {
    JsonValue fallback;
    if (Problem problem = take_json_value(value, fallback)) return problem;
    AttrSpec& branch = spec.branches->fallback.emplace();
    if (Problem problem = read_case_spec(fallback, scope, branch)) {
      problem->message = "`default`: " + problem->message;
      problem->parameter = true;
      return problem;
    }
    return std::nullopt;
  }
  const auto* cases = std::get_if<JsonArray>(&value.data);
  if (cases == nullptr) return invalid_type_message(value, "a sequence of cases");
  for (std::size_t i = 0; i < cases->size(); ++i) {
    if (Problem problem = read_case((*cases)[i], i, scope, spec.branches->cases.emplace_back())) {
      return problem;
    }
  }
  return std::nullopt;
}

namespace {

// How messages name branch j: "`cases`[j]'s `then`", or "`default`".
std::string branch_label(const SwitchBranches& branches, std::size_t j) {
  return j < branches.cases.size() ? "`cases`[" + std::to_string(j) + "]'s `then`"
                                   : std::string("`default`");
}

}  // namespace

Problem Switch::finish(Switch& spec, SpecScope& scope) {
  SwitchBranches& branches = *spec.branches;
  for (std::size_t j = 0; j < branches.count(); ++j) {
    const AttrSpec& branch = branches.branch(j);
    const std::string label = branch_label(branches, j);
    if (const ParamFault fault = param_fault(branch.kind); fault != ParamFault::None) {
      return parameter_problem(label + " cannot be drawn: " + param_fault_message(fault));
    }
    std::vector<KindProblem> problems;
    std::visit([&]<class K>(const K& params) { K::check(params, problems); }, branch.kind);
    for (const KindProblem& problem : problems) {
      if (problem.severity != Severity::Warning) {
        return parameter_problem(label + " may fail: " + problem.message);
      }
    }
  }
  const Column on = scope.column_of(spec.on);
  if (holds_choice_cells(on.kind) && on.choice.values != nullptr) {
    OutputBuffer no_text;
    for (std::size_t i = 0; i < on.choice.count; ++i) {
      const std::optional<std::size_t> branch =
          switch_branch(spec, AttributeValue::borrow(on.choice.values[i]), no_text);
      branches.branch_of_value.push_back(branch ? static_cast<std::uint32_t>(*branch)
                                                : SwitchBranches::NO_BRANCH);
    }
    branches.on_values = on.choice.values;
  }
  return std::nullopt;
}

bool Switch::takes_steps(const Switch& spec) {
  for (std::size_t j = 0; j < spec.branches->count(); ++j) {
    if (takes_generator_steps(spec.branches->branch(j))) return true;
  }
  return false;
}

Problem Switch::fits_scale(const Switch& spec, std::uint64_t scale) {
  for (std::size_t j = 0; j < spec.branches->count(); ++j) {
    if (Problem problem = attribute_scale_problem(spec.branches->branch(j), scale)) {
      problem->message = branch_label(*spec.branches, j) + ": " + problem->message;
      return problem;
    }
  }
  return std::nullopt;
}

std::optional<std::size_t> switch_branch(const Switch& params, const AttributeValue& on,
                                         const OutputBuffer& entity_text) {
  const SwitchBranches& branches = *params.branches;
  if (on.kind == AttributeValue::Kind::Borrowed && branches.on_values != nullptr) {
    // A value of the choice `on` names is one of its values, whose index its address tells.
    const std::size_t index =
        static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(on.borrowed) -
                                 reinterpret_cast<std::uintptr_t>(branches.on_values)) /
        sizeof(JsonValue);
    if (index < branches.branch_of_value.size() && on.borrowed == branches.on_values + index) {
      const std::uint32_t branch = branches.branch_of_value[index];
      if (branch == SwitchBranches::NO_BRANCH) return std::nullopt;
      return branch;
    }
  }
  const std::optional<JsonNumber> number = number_of(on);
  thread_local OutputBuffer text;  // the JSON text of `on`, when a case needs it
  text.clear();
  for (std::size_t j = 0; j < branches.cases.size(); ++j) {
    if (matches(branches.cases[j], on, number, entity_text, text)) return j;
  }
  if (branches.fallback) return branches.cases.size();
  return std::nullopt;
}

std::size_t switch_case_count(const Switch& params) {
  return params.branches->cases.size();
}

AttributeValue Switch::draw(const Draw& prepared, Xoshiro256PlusPlus& rng,
                            const EntityContext& entity) {
  const Switch& params = *prepared.spec;
  const std::optional<std::size_t> taken =
      switch_branch(params, entity.values[params.on], *entity.text);
  if (!taken) return AttributeValue::null();
  return draw_branch(params.branches->branch(*taken), splitmix64(prepared.key, *taken + 1), rng,
                     entity);
}

ValueTextBounds Switch::text_bounds(const Switch& params, OutputBuffer& scratch) {
  const SwitchBranches& branches = *params.branches;
  ValueTextBounds bounds{SIZE_MAX, 0, true};
  if (!branches.fallback) bounds = {4, 4, true};  // "null"
  for (std::size_t j = 0; j < branches.count(); ++j) {
    const ValueTextBounds branch = attribute_text_bounds(branches.branch(j), scratch);
    bounds.shortest = std::min(bounds.shortest, branch.shortest);
    bounds.longest = std::max(bounds.longest, branch.longest);
    bounds.ascii = bounds.ascii && branch.ascii;
  }
  if (bounds.shortest == SIZE_MAX) bounds.shortest = 4;
  return bounds;
}

std::uint64_t Switch::work(const Switch& params) {
  const SwitchBranches& branches = *params.branches;
  std::uint64_t most = 0;
  for (std::size_t j = 0; j < branches.count(); ++j) {
    most = std::max(most, attribute_work(branches.branch(j)));
  }
  return 2 + branches.cases.size() / 4 + most;
}

std::optional<ColumnSchemaError> Switch::plan_column(const Switch& params, std::size_t k,
                                                     Column& column) {
  const Column combined = combined_column(params, k);
  column.kind = combined.kind;
  column.time_unit = combined.time_unit;
  column.longest_text = combined.longest_text;
  column.nullable = true;
  return std::nullopt;
}

bool Switch::fits_column(const Switch& params, const Column& column) {
  return column.kind == combined_column(params, column.spec).kind;
}

}  // namespace tessary
