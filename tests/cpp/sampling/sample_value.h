// Test helpers that sample one attribute value the way an entity's draws do (entity_draws.h):
// the kind's fault first, then its prepared draw, then the value a record holds.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "kinds/kind_list.h"
#include "output/json_writer.h"
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
  // Kinds that read earlier specs (templates, switches) find them all null.
  static const AttributeValue earlier[64];
  std::uint64_t parent_ids[64] = {};
  OutputBuffer text;
  const EntityContext entity{id, earlier, &text, parent_ids};
  return K::value(params, K::draw(K::prepare(params, key), rng, entity));
}

// The JSON text of a value sampled as sample_value does (strings made by the draw included).
template <class K>
std::string sample_text(const K& params, Xoshiro256PlusPlus& rng) {
  static const AttributeValue earlier[64];
  std::uint64_t parent_ids[64] = {};
  OutputBuffer text;
  const EntityContext entity{0, earlier, &text, parent_ids};
  const AttributeValue value = K::value(params, K::draw(K::prepare(params, 0), rng, entity));
  OutputBuffer json;
  write_attribute_value(value, text, json);
  return std::string(json.view());
}

inline AttributeValue sample_attribute(const AttrSpec& spec, Xoshiro256PlusPlus& rng,
                                       std::uint64_t id = 0) {
  return std::visit([&]<class K>(const K& params) { return sample_value(params, rng, id); },
                    spec.kind);
}

}  // namespace tessary::testing
