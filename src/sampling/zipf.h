// The Zipf draw: k in 1..n with probability proportional to k^-s, by rejection-inversion (W.
// Hoermann and G. Derflinger, "Rejection-inversion to generate variates from monotone discrete
// distributions", ACM TOMACS 6 (1996), 169-184).
//
// The hat is the continuous density h(x) = x^-s over [1.5, n + 0.5] plus a block of height 1 for
// k = 1; a uniform u on its area is inverted through the integral H to an x, rounded to the nearest
// k, and accepted when it lies under the block of height h(k) at k. As h is convex, each block's
// share of the hat is at least h(k), and the hat's area exceeds the target's sum
// 1 + 2^-s + ... + n^-s by at most the factor 1.017; see draw_zipf.
//
// H(x) = (x^(1-s) - 1) / (1 - s) and its inverse are written with (exp(t) - 1) / t and
// log(1 + t) / t (sampling/log_exp.h), so that they stay accurate as s goes to 1, where H becomes
// log x, and s = 1 itself needs no case of its own.
//
// All functions are pure or act on a generator the caller owns; they are safe on any thread.
#pragma once

#include <cmath>
#include <cstdint>
#include <type_traits>

#include "random/xoshiro.h"
#include "sampling/log_exp.h"

namespace tessary {

// The largest n: every k up to it is exact as a double.
inline constexpr std::int64_t ZIPF_MAX_N = std::int64_t{1} << 53;

namespace zipf_detail {

// h(x) = x^-s.
inline double density(double x, double s) {
  return std::exp(-s * std::log(x));
}

// H(x) = (x^(1-s) - 1) / (1 - s), log x at s = 1: an antiderivative of h, increasing in x.
inline double integral(double x, double s) {
  const double log_x = std::log(x);
  return exp_minus_one_over_x((1.0 - s) * log_x) * log_x;
}

// The inverse of H. (1 - s) y is at least -1 over H's range; rounding may push it just below, where
// it is held at -1 (an x of +infinity, which the draw clamps to n).
inline double integral_inverse(double y, double s) {
  double t = y * (1.0 - s);
  if (t < -1.0) t = -1.0;
  return std::exp(log_one_plus_over_x(t) * y);
}

}  // namespace zipf_detail

// A Zipf distribution prepared for drawing (the names of Hoermann and Derflinger's paper).
struct ZipfDraw {
  std::int64_t n;
  double s;
  double h_integral_x1;  // H(1.5) - h(1): the low end of the hat's integral
  double h_integral_n;   // H(n + 0.5): its high end
  double squeeze;        // k - x <= squeeze accepts without evaluating H and h
};

// Kept in a fixed-size slot by the attribute kinds that draw it.
static_assert(std::is_trivially_copyable_v<ZipfDraw> && sizeof(ZipfDraw) <= 64 &&
              alignof(ZipfDraw) <= 8);

// Requires 1 <= n <= ZIPF_MAX_N and s > 0 (finite). Uses the C library's exp and log. Safe on any
// thread.
inline ZipfDraw prepare_zipf(std::int64_t n, double s) {
  using namespace zipf_detail;
  ZipfDraw zipf{};
  zipf.n = n;
  zipf.s = s;
  zipf.h_integral_x1 = integral(1.5, s) - 1.0;
  zipf.h_integral_n = integral(static_cast<double>(n) + 0.5, s);
  zipf.squeeze = 2.0 - integral_inverse(integral(2.5, s) - density(2.0, s), s);
  return zipf;
}

// A value in 1..n. Each attempt takes r = unit_f64 in [0, 1), u = H(1.5) - 1 + r (H(n + 0.5) -
// H(1.5) + 1), x = H^-1(u) and k = x + 0.5 rounded down and held to 1..n, and accepts k when
// k - x <= squeeze or u >= H(k + 0.5) - h(k). u is never below the low end, so k = 1 is always
// accepted: n = 1 gives 1 after exactly one draw. The expected number of attempts is the hat's
// area over the target's sum: at most 1.017 (computed for s from 0.025 to 50 in steps of 0.025 and
// n up to 3000, and n up to 10^5 in steps of 0.01; the worst is near s = 3, n = 5, and the ratio
// settles as n grows). That is for exact arithmetic: where h(k) falls below the unit in the last
// place of H(k) (k beyond about 10^14), the test u >= H(k + 0.5) - h(k) is decided by rounding and
// rejects more, so that at n = 2^53 a draw takes 1.005 attempts on average for s near 1 and
// 1.24 for s = 0.01. The probabilities of single values that large are equally blurred, each
// being below 10^-14 of the total.
// Generator steps: 1 per attempt. Uses the C library's exp and log. Safe on any thread.
inline std::int64_t draw_zipf(const ZipfDraw& zipf, Xoshiro256PlusPlus& rng) {
  using namespace zipf_detail;
  for (;;) {
    const double r = unit_f64(rng);
    const double u = zipf.h_integral_x1 + r * (zipf.h_integral_n - zipf.h_integral_x1);
    const double x = integral_inverse(u, zipf.s);
    // x + 0.5 >= 0.5, so the conversion truncates to the floor; a value of n + 1 or more (or
    // +infinity, or NaN) is n. n + 1 rounds to n at n = 2^53, where the comparison still holds.
    const double rounded = x + 0.5;
    std::int64_t k = rounded < static_cast<double>(zipf.n) + 1.0
                         ? static_cast<std::int64_t>(rounded)
                         : zipf.n;
    if (k < 1) k = 1;
    const double kd = static_cast<double>(k);
    if (kd - x <= zipf.squeeze ||
        u >= integral(kd + 0.5, zipf.s) - density(kd, zipf.s)) {
      return k;
    }
  }
}

}  // namespace tessary
