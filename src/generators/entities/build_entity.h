// Entity assembly: the attribute values of one entity, sampled from its own generator.
#pragma once

#include <cstdint>
#include <span>

#include "generators/entities/samplers.h"
#include "random/xoshiro.h"
#include "records/attr_spec.h"
#include "records/entity_record.h"

namespace tessary {

// Samples entity `index` under `seed`: every spec in list order from one entity_rng(seed, index),
// made only when there is at least one spec, handing spec k's value to take(k, value). The one
// loop behind every output (records here, columns in the column builder), so that all of them draw
// alike. Panics with the sampler's message on the first unusable spec, after the values of the
// specs before it were taken.
template <class Take>
inline void sample_entity(std::uint64_t seed, std::uint64_t index, std::span<const AttrSpec> specs,
                          Take&& take) {
  if (specs.empty()) return;
  Xoshiro256PlusPlus rng = entity_rng(seed, index);
  for (std::size_t k = 0; k < specs.size(); ++k) take(k, sample_attribute(specs[k], rng));
}

// Fills `record` with entity `index` of the call under `seed`: sets record.id = index and, for
// every spec k in list order, samples the attribute spec and stores the value in
// record.values[layout->member_of_spec[k]], so a name shared by several specs keeps the last value
// while every spec still takes its draws. All draws come from one entity_rng(seed, index), made
// only when there is at least one spec.
//
// Requires: `record` was made by make_entity_record(layout_entities(specs)) for these very specs
// (checked by size; a mismatch panics), and the specs outlive the record (choice values are
// borrowed). The record may be reused for any index: every value is overwritten, and nothing is
// allocated. Panics with the sampler's message on the first unusable spec, leaving the record
// partly filled. Reads the specs only, so any number of threads may build entities from one spec
// list at once, each into its own record.
void build_entity(std::uint64_t seed, std::uint64_t index, std::span<const AttrSpec> specs,
                  EntityRecord& record);

}  // namespace tessary
