// The geometric draw: the number of Bernoulli(p) trials up to and including the first success.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <type_traits>

#include "random/xoshiro.h"
#include "sampling/log_exp.h"

namespace tessary {

// log(2^-53) as the C library gives it: the logarithm of the smallest unit draw of a geometric.
inline constexpr double LOG_SMALLEST_POSITIVE_UNIT = -0x1.25e4f7b2737fap+5;  // -36.7368005696771

// The least p whose values all fit an int64: the largest value is that of the smallest draw,
// trunc(log(2^-53) / log(1 - p)) + 1, and below 2^-53 the computed log(1 - p) is exactly -p, so the
// quotient is 36.7368... / p rounded; at this p it is 2^63 - 2048, at the next double below 2^63.
inline constexpr double GEOMETRIC_MIN_P = 0x1.25e4f7b2737fbp-58;  // 3.983011898781064e-18
static_assert(GEOMETRIC_MIN_P < 0x1p-53);
static_assert(-LOG_SMALLEST_POSITIVE_UNIT / GEOMETRIC_MIN_P == 0x1p63 - 2048);
static_assert(-LOG_SMALLEST_POSITIVE_UNIT /
                  std::bit_cast<double>(std::bit_cast<std::uint64_t>(GEOMETRIC_MIN_P) - 1) ==
              0x1p63);

// A geometric distribution prepared for drawing: log(1 - p), computed once.
struct GeometricDraw {
  double log_failure;  // log(1 - p), from -infinity (p = 1) to just below 0
};

// Kept in a fixed-size slot by the attribute kinds that draw it.
static_assert(std::is_trivially_copyable_v<GeometricDraw> && sizeof(GeometricDraw) <= 64 &&
              alignof(GeometricDraw) <= 8);

// Requires GEOMETRIC_MIN_P <= p <= 1. Safe on any thread.
inline GeometricDraw prepare_geometric(double p) {
  return {log_one_plus(-p)};
}

// trunc(log(u) / log(1 - p)) + 1 with u in (0, 1] from one draw (inversion; the quotient is never
// negative, so truncation is the floor): a value from 1 to at most 2^63 - 2047. p = 1 gives 1 for
// every draw (log(u) / -infinity is zero). The value is monotone in the draw.
// Generator steps: exactly 1, p = 1 included. Uses the C library's log. Safe on any thread.
inline std::int64_t draw_geometric(const GeometricDraw& geometric, Xoshiro256PlusPlus& rng) {
  const double failures = std::log(positive_unit_f64(rng)) / geometric.log_failure;
  return static_cast<std::int64_t>(failures) + 1;
}

}  // namespace tessary
