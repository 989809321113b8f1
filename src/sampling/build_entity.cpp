#include "sampling/build_entity.h"

#include <cstddef>

#include "base/panic.h"

namespace tessary {

void build_entity(std::uint64_t seed, std::uint64_t index, std::span<const AttrSpec> specs,
                  EntityRecord& record) {
  // A record shaped for another spec list would be written out of bounds.
  if (record.layout == nullptr || record.layout->member_of_spec.size() != specs.size())
      [[unlikely]] {
    panic("entity record does not match its attribute specs");
  }
  record.id = index;
  if (record.draws.size() != specs.size() || (!specs.empty() && record.draws[0].seed != seed)) {
    record.draws = prepare_draws(specs, seed);
  }
  const std::uint32_t* member_of_spec = record.layout->member_of_spec.data();
  AttributeValue* values = record.values.data();
  AttributeValue* spec_values = record.spec_values.data();
  const PreparedDraw* draws = record.draws.data();
  record.text.clear();
  const EntityContext entity{index, spec_values, &record.text, record.parent_ids.data()};
  sample_entity(seed, index, specs.size(), [&](std::size_t k, Xoshiro256PlusPlus& rng) {
    const AttributeValue value = draw_value(draws[k], specs[k], rng, entity);
    if (specs[k].referenced) spec_values[k] = value;
    if (member_of_spec[k] != EntityLayout::HIDDEN) values[member_of_spec[k]] = value;
  });
}

}  // namespace tessary
