#include "sampling/entity_draws.h"

namespace tessary {

std::uint64_t fnv1a64(std::string_view name) {
  // FNV-1a, 64 bits: offset basis and prime.
  std::uint64_t hash = 0xCBF29CE484222325;
  for (char c : name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001B3;
  }
  return hash;
}

std::vector<PreparedDraw> prepare_draws(std::span<const AttrSpec> specs, std::uint64_t seed) {
  std::vector<PreparedDraw> draws(specs.size());
  for (std::size_t k = 0; k < specs.size(); ++k) {
    const AttrSpec& spec = specs[k];
    PreparedDraw& prepared = draws[k];
    prepared.seed = seed;
    prepared.null_key = spec.name_key;
    prepared.null_threshold = null_threshold(spec.null_rate);
    std::visit(
        [&]<class K>(const K& params) {
          prepared.fault = K::fault(params);
          if (prepared.fault != ParamFault::None) {
            prepared.kind = PreparedDraw::UNUSABLE;
            return;
          }
          prepared.kind = static_cast<std::uint8_t>(kind_index<K>());
          prepared.draw.set<K>(K::prepare(params, attribute_key(seed, spec.name_key)));
        },
        spec.kind);
  }
  return draws;
}

}  // namespace tessary
