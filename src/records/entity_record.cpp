#include "records/entity_record.h"

#include <string_view>
#include <unordered_map>

namespace tessary {

EntityLayout layout_entities(std::span<const AttrSpec> specs) {
  // The last spec of a name decides whether the name is hidden.
  std::unordered_map<std::string_view, bool> hidden;
  hidden.reserve(specs.size());
  for (const AttrSpec& spec : specs) hidden[spec.name] = spec.hidden;

  EntityLayout layout;
  layout.member_of_spec.reserve(specs.size());
  std::unordered_map<std::string_view, std::uint32_t> member_by_name;
  member_by_name.reserve(specs.size());
  for (const AttrSpec& spec : specs) {
    if (hidden[spec.name]) {
      layout.member_of_spec.push_back(EntityLayout::HIDDEN);
      continue;
    }
    auto [at, added] = member_by_name.try_emplace(
        spec.name, static_cast<std::uint32_t>(layout.member_names.size()));
    if (added) layout.member_names.push_back(spec.name);
    layout.member_of_spec.push_back(at->second);
  }
  return layout;
}

EntityRecord make_entity_record(const EntityLayout& layout) {
  EntityRecord record;
  record.layout = &layout;
  record.values.resize(layout.member_names.size());
  record.spec_values.resize(layout.member_of_spec.size());
  record.parent_ids.resize(layout.member_of_spec.size());
  return record;
}

}  // namespace tessary
