// Entity assembly: the attribute values of one entity, sampled from its own generator.
#pragma once

#include <cstdint>
#include <span>

#include "random/xoshiro.h"
#include "records/attr_spec.h"
#include "records/entity_record.h"
#include "sampling/entity_draws.h"

namespace tessary {

// Runs the attribute specs 0 .. spec_count - 1 of entity `index` in list order on one generator,
// entity_rng(seed, index), made only when there is at least one spec: sample(k, rng) must draw
// spec k's value from `rng` (with draw_attribute of entity_draws.h) and keep it or drop it.
// The one loop behind every output (records here, columns in the column builder), so that all of
// them draw alike; each output stores values its own way.
template <class Sample>
inline void sample_entity(std::uint64_t seed, std::uint64_t index, std::size_t spec_count,
                          Sample&& sample) {
  if (spec_count == 0) return;
  Xoshiro256PlusPlus rng = entity_rng(seed, index);
  for (std::size_t k = 0; k < spec_count; ++k) sample(k, rng);
}

// Fills `record` with entity `index` of the call under `seed`: sets record.id = index and, for
// every spec k in list order, draws the attribute (draw_value) and stores the value in
// record.values[layout->member_of_spec[k]], so a name shared by several specs keeps the last value
// while every spec still takes its draws. All draws come from one entity_rng(seed, index), made
// only when there is at least one spec.
//
// Requires: `record` was made by make_entity_record(layout_entities(specs)) for these very specs
// (checked by size; a mismatch panics), and the specs outlive the record (choice values are
// borrowed). The record may be reused for any index: every value is overwritten, and nothing is
// allocated once the record's draws are prepared for `seed` (the first entity built under a seed
// prepares them). Panics with the sampler's message on the first unusable spec, leaving the record
// partly filled. Reads the specs only, so any number of threads may build entities from one spec
// list at once, each into its own record.
void build_entity(std::uint64_t seed, std::uint64_t index, std::span<const AttrSpec> specs,
                  EntityRecord& record);

}  // namespace tessary
