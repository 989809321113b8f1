#include "kinds/reference.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <variant>

#include "base/panic.h"
#include "datasets/referenced_table.h"
#include "output/number_text.h"
#include "records/attr_spec.h"
#include "sampling/entity_draws.h"
#include "sampling/index_pick.h"
#include "specs/unexpected_text.h"

namespace tessary {

const std::shared_ptr<const ReferencedTable>* DatasetScope::find(std::string_view name) const {
  const auto at = std::find_if(tables.begin(), tables.end(),
                               [name](const auto& table) { return table->name == name; });
  return at == tables.end() ? nullptr : &*at;
}

namespace {

constexpr std::string_view DISTRIBUTION_FORM = "\"uniform\" or {\"zipf\": s}";

// `distribution`: "uniform", or {"zipf": s} with s > 0.
Problem take_distribution(const BufferedValue& value, Reference& spec) {
  spec.distribution_given = true;
  if (value.is_string()) {
    if (value.string() == "uniform") return std::nullopt;
    return parameter_problem("`distribution` must be " + std::string(DISTRIBUTION_FORM) +
                                 ", not \"" + std::string(value.string()) + "\"",
                             byte_in_document(value, 0));
  }
  const auto* object = std::get_if<JsonObject>(&value.data);
  if (object == nullptr || object->size() != 1 || object->begin()->key != "zipf") {
    return invalid_type_message(value, DISTRIBUTION_FORM);
  }
  const auto* s = std::get_if<JsonNumber>(&object->begin()->value.data);
  if (s == nullptr || !(s->to_f64() > 0)) {
    return parameter_problem("`distribution`: the `zipf` exponent s must be a number above 0");
  }
  spec.zipf_s = s->to_f64();
  return std::nullopt;
}

// The parent's specs that rebuilding spec `last` draws (Reference::replay): those before it that
// take steps (they move the generator it draws on) or whose values later ones read. A copied
// attribute that takes no step, with no value before it read by a later one, depends on none of
// them (a table's keys, wherever they stand).
void plan_replay(Reference& spec, const std::vector<AttrSpec>& specs, std::size_t last) {
  spec.replay.clear();
  const bool alone =
      !takes_generator_steps(specs[last]) &&
      std::none_of(specs.begin(), specs.begin() + static_cast<std::ptrdiff_t>(last),
                   [](const AttrSpec& earlier) { return earlier.referenced; });
  for (std::size_t k = 0; k <= last; ++k) {
    const bool steps = takes_generator_steps(specs[k]);
    if (k < last && (alone || (!steps && !specs[k].referenced))) continue;
    spec.replay.push_back(k);
    spec.replay_takes_steps = spec.replay_takes_steps || steps;
    spec.replay_keeps_values = spec.replay_keeps_values || (k < last && specs[k].referenced);
    spec.replay_picks = spec.replay_picks || std::holds_alternative<Reference>(specs[k].kind) ||
                        std::holds_alternative<Switch>(specs[k].kind);
    spec.replay_work += attribute_work(specs[k]);
  }
}

// The index of the parent's spec that `attribute` names: its last of that name, or ID.
Problem resolve_attribute(Reference& spec, const ReferencedTable& parent) {
  if (spec.attribute == "id") {
    spec.parent_spec = Reference::ID;
    return std::nullopt;
  }
  const std::vector<AttrSpec>& specs = parent.specs->specs;
  for (std::size_t k = specs.size(); k > 0; --k) {
    if (specs[k - 1].name == spec.attribute) {
      spec.parent_spec = k - 1;
      plan_replay(spec, specs, k - 1);
      return std::nullopt;
    }
  }
  return parameter_problem("`attribute`: table `" + parent.name + "` has no attribute `" +
                               spec.attribute + "`",
                           spec.attribute_at);
}

// `same_as`: an earlier reference of this list to the same table.
Problem resolve_same_as(Reference& spec, const SpecScope& scope) {
  if (spec.distribution_given) {
    return parameter_problem(
        "`same_as` reuses the parent an earlier reference picked, so it takes no `distribution`");
  }
  const std::optional<std::size_t> k = scope.find(spec.same_as_name);
  if (!k) {
    return parameter_problem("`same_as`: no attribute before this one is named `" +
                                 spec.same_as_name + "`",
                             spec.same_as_at);
  }
  const auto* earlier = std::get_if<Reference>(&scope.spec(*k).kind);
  if (earlier == nullptr) {
    return parameter_problem("`same_as`: `" + spec.same_as_name + "` is a `" +
                                 std::string(KIND_NAMES[scope.spec(*k).kind.index()]) +
                                 "`, not a `reference`",
                             spec.same_as_at);
  }
  if (earlier->parent != spec.parent) {
    return parameter_problem("`same_as`: `" + spec.same_as_name + "` refers to table `" +
                                 earlier->table + "`, not to `" + spec.table + "`",
                             spec.same_as_at);
  }
  spec.same_as = earlier->same_as != Reference::NONE ? earlier->same_as : *k;
  return std::nullopt;
}

// Where a reference's draws keep the values of a parent's attributes that later ones read, and
// the parents its own references pick: on the stack for the common short prefix. Left
// uninitialised: an attribute reads only values that the attributes before it wrote.
constexpr std::size_t LOCAL_SPECS = 16;
union LocalValues {
  LocalValues() {}
  AttributeValue values[LOCAL_SPECS];
};

const AttrSpec& parent_attribute(const Reference& params) {
  return params.parent->specs->specs[params.parent_spec];
}

}  // namespace

Reference::Draw Reference::prepare(const Reference& params, std::uint64_t) {
  if (params.parent_spec == ID || params.replay_keeps_values || params.replay_picks) {
    return {&params, nullptr, nullptr, 0};
  }
  const ReferencedTable& parent = *params.parent;
  return {&params, parent.specs->specs.data(), parent.draws.data(), parent.seed};
}

// Drawn as the parent table draws it: the attributes of `replay` in order on the entity's
// generator (made only when one of them takes steps); the others take no step and give nothing
// the copied value depends on.
AttributeValue Reference::copy(const Reference& spec, std::uint64_t id, OutputBuffer& text) {
  const ReferencedTable& parent = *spec.parent;
  const std::size_t count = spec.parent_spec + 1;
  LocalValues local_values;
  std::uint64_t local_ids[LOCAL_SPECS];
  std::vector<AttributeValue> heap_values;
  std::vector<std::uint64_t> heap_ids;
  AttributeValue* values = local_values.values;
  std::uint64_t* ids = local_ids;
  if (count > LOCAL_SPECS && (spec.replay_keeps_values || spec.replay_picks)) {
    heap_values.resize(count);
    heap_ids.resize(count);
    values = heap_values.data();
    ids = heap_ids.data();
  }
  const std::vector<AttrSpec>& specs = parent.specs->specs;
  const EntityContext entity{id, values, &text, ids};
  Xoshiro256PlusPlus rng{};
  if (spec.replay_takes_steps) rng = entity_rng(parent.seed, id);
  const std::size_t last = spec.replay.back();  // the copied spec
  for (std::size_t j = 0; j + 1 < spec.replay.size(); ++j) {
    const std::size_t k = spec.replay[j];
    const AttributeValue value = draw_value(parent.draws[k], specs[k], rng, entity);
    if (spec.replay_keeps_values && specs[k].referenced) values[k] = value;
  }
  return draw_value(parent.draws[last], specs[last], rng, entity);
}

Problem Reference::take(Reference& spec, std::size_t field, const BufferedValue& value) {
  if (field == 2) return take_distribution(value, spec);
  std::string_view text;
  if (Problem problem = take_string(value, text)) return problem;
  const char* at = byte_in_document(value, 0);
  switch (field) {
    case 0:
      spec.table = std::string(text);
      spec.table_at = at;
      break;
    case 1:
      spec.attribute = std::string(text);
      spec.attribute_at = at;
      break;
    default:
      spec.same_as_name = std::string(text);
      spec.same_as_at = at;
      break;
  }
  return std::nullopt;
}

Problem Reference::finish(Reference& spec, SpecScope& scope) {
  if (scope.dataset() == nullptr) {
    return parameter_problem(
        "a `reference` points at another table, so it belongs to a data set document "
        "({\"tables\": [{\"name\": ..., \"scale\": ..., \"attributes\": [...]}]}), not to a list "
        "of attributes",
        spec.table_at);
  }
  const auto* parent = scope.dataset()->find(spec.table);
  if (parent == nullptr) {
    return parameter_problem("`table`: no table of the data set is named `" + spec.table + "`",
                             spec.table_at);
  }
  spec.parent = *parent;
  spec.parent_scale = spec.parent->scale;
  if (Problem problem = resolve_attribute(spec, *spec.parent)) return problem;
  if (spec.zipf_s) {
    if (spec.parent_scale > static_cast<std::uint64_t>(ZIPF_MAX_N)) {
      return parameter_problem("`distribution`: a Zipf pick needs a parent of at most 2^53 "
                               "entities, and table `" + spec.table + "` has " +
                               u64_string(spec.parent_scale));
    }
    if (spec.parent_scale > 0) {
      spec.zipf = prepare_zipf(static_cast<std::int64_t>(spec.parent_scale), *spec.zipf_s);
    }
  }
  if (!spec.same_as_name.empty()) {
    if (Problem problem = resolve_same_as(spec, scope)) return problem;
  }
  spec.index = scope.size();
  // The positions point into the document, which the attribute outlives.
  spec.table_at = spec.attribute_at = spec.same_as_at = nullptr;
  return std::nullopt;
}

Problem Reference::fits_scale(const Reference& spec, std::uint64_t scale) {
  if (scale > 0 && spec.parent_scale == 0) {
    return parameter_problem("table `" + spec.table +
                             "` has no entities to refer to: its scale is 0");
  }
  return std::nullopt;
}

void Reference::no_parents(const Reference& spec) {
  // fits_scale refuses a table with entities whose references have none to pick.
  panic("table `" + spec.table + "` has no entities to refer to");
}

ValueTextBounds Reference::text_bounds(const Reference& params, OutputBuffer& scratch) {
  if (params.parent_spec == ID) return {1, U64_TEXT_CAPACITY};
  return attribute_text_bounds(parent_attribute(params), scratch);
}

std::optional<ColumnSchemaError> Reference::plan_column(const Reference& params, std::size_t k,
                                                        Column& column) {
  if (params.parent_spec == ID) {
    column.kind = ColumnKind::UInt64;
    return std::nullopt;
  }
  return plan_attribute_column(parent_attribute(params), k, column);
}

bool Reference::fits_column(const Reference& params, const Column& column) {
  if (params.parent_spec == ID) return column.kind == ColumnKind::UInt64;
  return std::visit([&]<class K>(const K& parent) { return K::fits_column(parent, column); },
                    parent_attribute(params).kind);
}

}  // namespace tessary
