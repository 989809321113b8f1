// EntityRecord: the attribute values of one generated entity.
//
// Members come in spec order: a name that several specs share takes the position of its first
// spec and the value of its last. The layout of members is the same for every entity of a call,
// so it is worked out once (EntityLayout) and each record holds just its id, one value per member,
// the values of the specs later ones read, the entity's strings and the prepared draws of its
// specs. Values that come from a "choice" point into the attribute spec list instead of copying
// it; the list of specs outlives the records. A record can be refilled for the next entity without
// allocating once warm.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "records/attr_spec.h"
#include "output/output_buffer.h"
#include "records/attribute_value.h"
#include "sampling/entity_draws.h"

namespace tessary {

struct EntityLayout {
  // The distinct names of the members, in order of first occurrence; a name whose last spec is
  // hidden is no member.
  std::vector<std::string_view> member_names;
  // Spec k stores its value in member_of_spec[k], or nowhere (HIDDEN) when its name is hidden.
  std::vector<std::uint32_t> member_of_spec;

  static constexpr std::uint32_t HIDDEN = 0xFFFFFFFF;
};

// Requires: specs outlives the layout (member names point into it).
EntityLayout layout_entities(std::span<const AttrSpec> specs);

struct EntityRecord {
  std::uint64_t id = 0;
  const EntityLayout* layout = nullptr;
  std::vector<AttributeValue> values;  // values[m] belongs to layout->member_names[m]
  // The values of the specs that later specs refer to (spec_values[k] of spec k; the others are
  // left as they are), and the strings that the entity's draws made.
  std::vector<AttributeValue> spec_values;
  std::vector<std::uint64_t> parent_ids;  // the parents its references picked (kind_unit.h)
  OutputBuffer text;
  // The specs' draws prepared for the seed of the entities last built (empty until then), kept
  // with the record so that building many entities prepares them once.
  std::vector<PreparedDraw> draws;
};

// A record shaped for the layout, with every value null. Requires: layout outlives the record.
EntityRecord make_entity_record(const EntityLayout& layout);

}  // namespace tessary
