// ReferencedTable: what a reference (kinds/reference.h) needs of the table it points at to rebuild
// any of its entities: its specs, its scale and seed, and its draws prepared once for that seed.
//
// Made once a data set's table is read and then only read, by any number of threads at once. The
// references of its children share it, and it lives as long as the last of them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pipeline/prepared_specs.h"
#include "sampling/entity_draws.h"
#include "sampling/keyed_permutation.h"

namespace tessary {

struct ReferencedTable {
  std::string name;
  std::uint64_t scale = 0;
  std::uint64_t seed = 0;  // the table's seed (datasets/dataset.h)
  std::shared_ptr<const PreparedSpecs> specs;
  std::vector<PreparedDraw> draws;  // the specs' draws under `seed`
  // The tables of its unique_int attributes' permutations, which `draws` point at: the
  // references of its children rebuild its keys for every entity (tabulate_keys, dataset.cpp).
  std::vector<std::vector<std::uint32_t>> image_tables;
  std::vector<TabulatedRounds> round_tables;
};

}  // namespace tessary
