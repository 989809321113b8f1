// The standard exponential draw (mean 1), by inversion.
#pragma once

#include <cmath>

#include "random/xoshiro.h"

namespace tessary {

// -log(u) with u = ((x >> 11) + 1) * 2^-53 in (0, 1] from one draw x: a value from +0.0 (u = 1) to
// 53 log 2 = 36.74 (u = 2^-53), never infinite. Written 0 - log(u) so that u = 1 gives +0.0 and
// not -0.0. The value is monotone in the draw (a smaller draw, a larger value).
// Generator steps: exactly 1. Uses the C library's log. Safe on any thread.
inline double standard_exponential(Xoshiro256PlusPlus& rng) {
  return 0.0 - std::log(positive_unit_f64(rng));
}

}  // namespace tessary
