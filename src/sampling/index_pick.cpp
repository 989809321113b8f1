#include "sampling/index_pick.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>

namespace tessary {
namespace {

PicksPast always_at(std::size_t pick, std::size_t n) {
  if (pick < n) return {};
  return {1.0, true, pick, pick};
}

// The neighbours of a finite double: the next one towards -infinity and towards +infinity.
double next_below(double x) {
  if (x == 0) return -std::numeric_limits<double>::denorm_min();
  const auto bits = std::bit_cast<std::uint64_t>(x);
  return std::bit_cast<double>(x > 0 ? bits - 1 : bits + 1);
}
double next_above(double x) {
  return -next_below(-x);
}

}  // namespace

// The bound. Let C_j be the exact sum of weights 0..j and t_j(x) the scan's t after position j from
// t = x (t_{-1} = x). Each rounded subtraction errs by at most u = 2^-53 times its result (subnormal
// results are exact), so e_j = t_j(x) - (x - C_j) has |e_{j-1}| <= u * sum_{i<j} |t_i(x)|, and
// |t_i(x)| <= |x - C_i| + |e_i| (the classic running bound; Higham, Accuracy and Stability of
// Numerical Algorithms, 2nd ed., section 4.2). The scan stops at j exactly when t_{j-1} - w_j =
// x - C_j + e_{j-1} <= 0: the last rounding keeps the sign. The computed prefix sum S_j (list order
// from -0.0, as the total) has |S_j - C_j| <= F_j = u * sum_{i<=j} |S_i|, and
// sum_{i<j} |C_j - C_i| <= sum_{m<=j} m |w_m| = D_j (equal for weights of one sign). For x within
// R + s of S_j (s a few units in the last place of S_j and of the band's ends),
//   |e_{j-1}| <= u (D_j + j (R + s + F_j)) / (1 - j u),
// so R = (F_j + u (D_j + j (s + F_j))) (1 + 2^-8) exceeds F_j + |e_{j-1}| for any list shorter than
// 2^40 (the factor also covers the rounding of F, D and R themselves). Then the largest double
// below S_j - R has x - C_j + e_{j-1} <= 0 (the scan stops at j or before), the least double above
// S_j + R has it > 0, and since t_j is non-decreasing in x, so does every x beyond them. No t
// overflows near a band while every |S_j| stays below 2^1019.
PickBands pick_bands(std::span<const double> weights) {
  constexpr double kUnit = 0x1p-53;
  constexpr double kLargest = 0x1p1019;
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const std::size_t k = weights.size();
  if (k <= SCANNED_WEIGHTS || k >= (std::size_t{1} << 40)) return {};
  PickBands bands;
  bands.lower.resize(k - 1);
  bands.upper.resize(k - 1);
  double sum = -0.0;
  double sum_error = 0;     // F_j
  double distance_sum = 0;  // D_j
  double lower = -kInf;
  double upper = -kInf;
  for (std::size_t j = 0; j + 1 < k; ++j) {
    const double w = weights[j];
    sum += w;
    if (!(std::fabs(sum) <= kLargest)) return {};  // also an infinite or NaN weight
    sum_error += kUnit * std::fabs(sum);
    const double position = static_cast<double>(j);
    distance_sum += position * std::fabs(w);
    const double slack = 8 * kUnit * std::fabs(sum) + 0x1p-1071;
    const double radius =
        (sum_error + kUnit * (distance_sum + position * (slack + sum_error))) * (1 + 0x1p-8);
    if (!(radius <= kLargest)) return {};
    // The pick passes j from the largest threshold among 0..j on: the bands' running maxima.
    lower = std::max(lower, next_below(sum - radius));
    upper = std::max(upper, next_above(sum + radius));
    bands.lower[j] = lower;
    bands.upper[j] = upper;
  }
  return bands;
}

PicksPast picks_past(std::span<const double> weights, double total, std::size_t n) {
  const std::size_t k = weights.size();
  if (k <= n) return {};
  constexpr double kInf = std::numeric_limits<double>::infinity();
  // t = u * total. A NaN or +inf t never gets to 0 or below (inf minus a weight is inf or NaN):
  // the scan runs out. A t of -inf stops at the first weight, unless -inf - -inf makes it NaN.
  if (std::isnan(total) || total == kInf) return always_at(k - 1, n);
  if (total == -kInf) return always_at(weights[0] == -kInf ? k - 1 : 0, n);

  // The total is finite, so is every weight. With s = u * total (uniform between 0 and total),
  // t after position j is s - C_j, C_j the weights added up to j: the pick is the first j with
  // C_j >= s, or the last position when there is none.
  if (total == 0) {  // s is 0 for every draw
    double cumulative = -0.0;
    for (std::size_t j = 0; j < k; ++j) {
      cumulative += weights[j];
      if (cumulative >= 0) return always_at(j, n);
    }
    return always_at(k - 1, n);
  }
  // Position j takes the draws with s in (max(lo, highest C before j), min(hi, C_j)].
  const double lo = std::min(0.0, total);
  const double hi = std::max(0.0, total);
  double cumulative = -0.0;
  double highest_before = -kInf;
  double within = 0;  // measures of s, out of hi - lo
  double beyond = 0;
  PicksPast past;
  for (std::size_t j = 0; j < k; ++j) {
    cumulative += weights[j];
    const double from = std::max(lo, highest_before);
    double measure = std::max(0.0, std::min(hi, cumulative) - from);
    highest_before = std::max(highest_before, cumulative);
    if (j == k - 1) measure += std::max(0.0, hi - std::max(lo, highest_before));  // ran out
    if (measure == 0) continue;
    if (j < n) {
      within += measure;
      continue;
    }
    if (beyond == 0) past.lowest = j;
    past.highest = j;
    beyond += measure;
  }
  past.share = beyond / (hi - lo);
  past.always = beyond > 0 && within == 0;
  if (past.always) past.share = 1;
  return past;
}

}  // namespace tessary
