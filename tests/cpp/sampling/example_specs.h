// The attribute spec list of the seed-7 worked example, shared by the tests and the benchmark: in
// this order, uniform_int 18..80; uniform_float 0..1; normal with mean 100 and std_dev 15; choice
// of [10, 20, 30] without weights; the same choice with weights [1, 2, 3].
#pragma once

#include <optional>
#include <vector>

#include "records/attr_spec.h"

namespace tessary::testing {

inline std::vector<AttrSpec> five_example_specs() {
  const std::vector<JsonValue> tens = {JsonNumber::from_u64(10), JsonNumber::from_u64(20),
                                       JsonNumber::from_u64(30)};
  return {
      {"age", UniformInt{18, 80}},
      {"score", UniformFloat{0.0, 1.0}},
      {"iq", Normal{100.0, 15.0, std::nullopt, std::nullopt}},
      {"pick", make_choice(tens, {})},
      {"weighted", make_choice(tens, {1.0, 2.0, 3.0})},
  };
}

}  // namespace tessary::testing
