// AttrSpec: one attribute of the entities to generate, as read from the specs document.
//
// A spec list is built once per call and then only read, by every worker thread at once, without
// locks; it outlives every record built from it, so records may point into it. The kinds of
// attribute and their parameters are listed in kinds/kind_list.h.
#pragma once

#include <cstdint>
#include <string>

#include "kinds/kind_list.h"

namespace tessary {

struct AttrSpec {
  std::string name;
  AttrKind kind;
  // The share of entities whose value is null (`null_rate`, the package's language only), from 0
  // to 1; see sampling/entity_draws.h.
  double null_rate = 0;
  // What keys the attribute's decisions that are not value draws: its name and occurrence among
  // the specs of that name (sampling/entity_draws.h), set by the reader.
  std::uint64_t name_key = 0;
  // `hidden`: drawn, and readable by later specs, but neither a member of the text nor a column
  // (for a repeated name, its last spec decides).
  bool hidden = false;
  // Whether a later spec refers to this one's value, set by the reader.
  bool referenced = false;
};

}  // namespace tessary
