#include "sampling/index_pick.h"

#include <algorithm>
#include <cmath>

namespace tessary {
namespace {

PicksPast always_at(std::size_t pick, std::size_t n) {
  if (pick < n) return {};
  return {1.0, true, pick, pick};
}

}  // namespace

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
