// AttrSpec: one attribute of the entities to generate, as read from the specs document.
//
// A spec list is built once per call and then only read, by every worker thread at once, without
// locks; it outlives every record built from it, so records may point into it. The kinds of
// attribute and their parameters are listed in kinds/kind_list.h.
#pragma once

#include <string>

#include "kinds/kind_list.h"

namespace tessary {

struct AttrSpec {
  std::string name;
  AttrKind kind;
};

}  // namespace tessary
