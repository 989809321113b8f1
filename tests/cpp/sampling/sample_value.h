// Test helpers that sample one attribute value the way an entity's draws do (entity_draws.h):
// the kind's fault first, then its prepared draw, then the value a record holds.
#pragma once

#include <cstdint>
#include <variant>

#include "kinds/kind_list.h"
#include "random/xoshiro.h"
#include "records/attr_spec.h"
#include "records/attribute_value.h"
#include "sampling/entity_draws.h"

namespace tessary::testing {

// The value of a kind's parameters for entity `id` under attribute key `key`: panics with the
// fault's message (before any draw) when the parameters are unusable.
template <class K>
AttributeValue sample_value(const K& params, Xoshiro256PlusPlus& rng, std::uint64_t id = 0,
                            std::uint64_t key = 0) {
  const ParamFault fault = K::fault(params);
  if (fault != ParamFault::None) sampler_failure::unusable(fault);
  OutputBuffer text;
  const EntityContext entity{id, nullptr, &text};
  return K::value(params, K::draw(K::prepare(params, key), rng, entity));
}

inline AttributeValue sample_attribute(const AttrSpec& spec, Xoshiro256PlusPlus& rng,
                                       std::uint64_t id = 0) {
  return std::visit([&]<class K>(const K& params) { return sample_value(params, rng, id); },
                    spec.kind);
}

}  // namespace tessary::testing
