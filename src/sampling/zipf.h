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
// Precision at large n: for s < 1, H grows as n^(1-s) / (1-s) and h(k) = k^-s falls below its
// rounding unit from about k = 2^44 on at n = 2^53 (for s >= 1, where the sum converges, far
// later). Values of H then cannot tell neighbouring k apart, so the test under the block never
// subtracts them: it is a ratio of quantities local to the cell (accept_in_cell). What rounding
// leaves is the inversion's: x is within about 2^-45 of H^-1(u) relative, which moves values
// between near neighbours (up to about a hundred apart at 2^53) without bias; the distribution
// function of the values stays within about 2 * 10^-14 of the law's (measured for s from 0.01 to
// 1.1 at n = 2^53), far below what any sample can show.
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

// A value k and the offset k - x of the x it was rounded from.
struct ZipfCell {
  std::int64_t k;
  double k_minus_x;
};

// The k of 1..n whose cell (k - 1/2, k + 1/2] holds x > 0, and k - x; x beyond n + 1/2 (+infinity
// included) or at most 1/2 is held to n or 1. The cells are closed at the top, so that x = k - 1/2
// exactly (a double up to 2^52) is the top of cell k - 1, which every block covers, and never the
// foot of cell k, where the exact test rejects by a margin of order k^-2, far below rounding.
// k - x is exact below n: x - floor(x) is, and from 2^52 on it is 0 (every double is an integer).
inline ZipfCell cell_of(double x, std::int64_t n) {
  if (!(x < static_cast<double>(n))) return {n, static_cast<double>(n) - x};  // n <= 2^53 is exact
  const auto floor_x = static_cast<std::int64_t>(x);  // 0 <= x < 2^53
  const double above_floor = x - static_cast<double>(floor_x);
  const bool up = above_floor > 0.5;  // without a branch: it goes either way at random
  const ZipfCell cell{floor_x + up, static_cast<double>(up) - above_floor};
  return cell.k >= 1 ? cell : ZipfCell{1, 1.0 - x};
}

// Whether x in the cell of k > 1 lies under the block of height h(k) at the cell's top, i.e.
// H(k + 1/2) - H(x) <= h(k). Written as a ratio that stays accurate to a few units in the last
// place for every k up to 2^53: with L = log((k + 1/2) / x),
//   (H(k + 1/2) - H(x)) / h(k) = x (k / x)^s L (exp((1 - s) L) - 1) / ((1 - s) L),
// where k - x and k - x + 1/2 are exact (as cell_of gives them) and log(1 + t) and
// (exp(t) - 1) / t are taken by sampling/log_exp.h. Subtracting values of H instead would leave
// nothing of h(k) once it falls below the rounding unit of H (for s < 1, H grows as n^(1 - s)),
// and the rounding would decide the test, rejecting large k too often.
inline bool accept_in_cell(double x, double k_minus_x, double s) {
  const double log_top_over_x = log_one_plus((k_minus_x + 0.5) / x);
  const double k_over_x_to_s = std::exp(s * log_one_plus(k_minus_x / x));
  const double ratio = x * k_over_x_to_s * log_top_over_x *
                       exp_minus_one_over_x((1.0 - s) * log_top_over_x);
  return ratio <= 1.0;
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
// H(1.5) + 1) and x = H^-1(u); k is the integer with k - 1/2 < x <= k + 1/2, held to 1..n. k = 1 is
// accepted at once (its block has height h(1) = 1, all of the hat below H(1.5)): n = 1 gives 1
// after exactly one step. A larger k is accepted when x lies under the block of height h(k) at the
// top of its cell, that is when H(k + 1/2) - H(x) <= h(k): at once when k - x <= squeeze, else by
// accept_in_cell, which decides it to within a few units in the last place of h(k) at any k.
// The expected number of attempts is the hat's area over the target's sum: at most 1.017
// (computed for s from 0.025 to 50 in steps of 0.025 and n up to 3000, and n up to 10^5 in steps
// of 0.01; the worst is near s = 3, n = 5, and the ratio settles as n grows). Rounding decides
// only an x within a few units in the last place of a block's foot, so this holds up to n = 2^53.
// Generator steps: 1 per attempt. Uses the C library's exp and log. Safe on any thread.
inline std::int64_t draw_zipf(const ZipfDraw& zipf, Xoshiro256PlusPlus& rng) {
  using namespace zipf_detail;
  for (;;) {
    const double r = unit_f64(rng);
    const double u = zipf.h_integral_x1 + r * (zipf.h_integral_n - zipf.h_integral_x1);
    const double x = integral_inverse(u, zipf.s);
    const ZipfCell cell = cell_of(x, zipf.n);
    if (cell.k_minus_x <= zipf.squeeze || cell.k == 1 ||
        accept_in_cell(x, cell.k_minus_x, zipf.s)) {
      return cell.k;
    }
  }
}

}  // namespace tessary
