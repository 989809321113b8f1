// AttrSpec: one attribute of the entities to generate, as read from the specs document.
//
// A spec list is built once per call and then only read, by every worker thread at once, without
// locks; it outlives every record built from it, so records may point into it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "records/json_value.h"

namespace tessary {

struct UniformInt {
  std::int64_t low = 0;
  std::int64_t high = 0;
};

struct UniformFloat {
  double low = 0;
  double high = 0;
};

struct Normal {
  double mean = 0;
  double std_dev = 0;
  std::optional<double> min;
  std::optional<double> max;
};

struct Choice {
  std::vector<JsonValue> values;
  std::vector<double> weights;  // empty when the document gives none
};

// The variant order is part of the document format: "type" may name a kind by its index here.
using AttrKind = std::variant<UniformInt, UniformFloat, Normal, Choice>;

struct AttrSpec {
  std::string name;
  AttrKind kind;
};

}  // namespace tessary
