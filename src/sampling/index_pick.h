// Index picks: a uniform index below a bound, and a pick weighted by a list of weights.
//
// The number of generator steps each takes is part of the output contract, since it decides what
// every later attribute of the entity draws. All functions act on a generator the caller owns and
// are safe on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <type_traits>
#include <vector>

#include "base/uint128.h"
#include "random/xoshiro.h"

namespace tessary {

// Maps draws onto 0..range-1 by a widening multiply with a single correction draw: the upper word
// of draw()*range, plus one when the lower word is within `range` of overflowing and the upper word
// of a second draw()*range carries into it. There is no rejection loop, so the result is very
// slightly biased for ranges that are not powers of two; the streams depend on exactly this.
// Word is std::uint32_t or std::uint64_t; draw() returns a Word. Requires range >= 1.
// Takes one draw, or two on a correction.
template <class Word, class Draw>
inline Word widening_pick(Word range, Draw&& draw) {
  static_assert(std::is_same_v<Word, std::uint32_t> || std::is_same_v<Word, std::uint64_t>);
  using Wide = std::conditional_t<sizeof(Word) == 4, std::uint64_t, Uint128>;
  constexpr int kBits = 8 * sizeof(Word);
  const Wide product = static_cast<Wide>(draw()) * range;
  Word hi = static_cast<Word>(product >> kBits);
  const Word lo = static_cast<Word>(product);
  if (lo > static_cast<Word>(0 - range)) [[unlikely]] {  // 0 - range is 2^bits - range
    const Word hi2 = static_cast<Word>((static_cast<Wide>(draw()) * range) >> kBits);
    if (static_cast<Word>(lo + hi2) < lo) ++hi;
  }
  return hi;
}

// An index in 0..n-1. Requires n >= 1. Below 2^32 it works on next_u32 draws, above on next_u64
// draws. Takes one step, or two on a correction.
inline std::uint64_t uniform_index(std::uint64_t n, Xoshiro256PlusPlus& rng) {
  if (n <= 0xFFFFFFFF) {
    return widening_pick<std::uint32_t>(static_cast<std::uint32_t>(n),
                                        [&rng] { return rng.next_u32(); });
  }
  return widening_pick<std::uint64_t>(n, [&rng] { return rng.next_u64(); });
}

// A weighted index in 0..weights.size()-1. Requires at least one weight, and `total` the sum of the
// weights added in list order from -0.0 (make_choice computes it once per call). t = unit_f64 *
// total; then each weight in turn is taken off t and the first position where t <= 0 is the pick.
// A scan that never stops (t NaN, or rounding leaving t above 0) picks the last position. Zero
// weights are passed over unless t is already <= 0, so a draw of exactly 0 picks position 0. Takes
// exactly one step. This scan is the definition of the pick; weighted_pick with PickBands below
// finds the same pick faster on long lists.
//
// scanned_pick is the scan from a given t. Where it stops is as random as the draw, so a branch on
// it would be mispredicted about every other entity. The scan is therefore branch-free within
// blocks of eight weights and looks at whether it has stopped only at the end of a block.
inline std::size_t scanned_pick(std::span<const double> weights, double t) {
  const std::size_t k = weights.size();
  std::size_t pick = k - 1;
  std::size_t scanning = ~std::size_t{0};  // all ones until the scan stops, then zero
  for (std::size_t j = 0; j < k; ++j) {
    t -= weights[j];
    const std::size_t stop_here = scanning & (std::size_t{0} - static_cast<std::size_t>(t <= 0));
    pick = (j & stop_here) | (pick & ~stop_here);
    scanning &= ~stop_here;
    if (j % 8 == 7 && scanning == 0) break;
  }
  return pick;
}
inline std::size_t weighted_pick(std::span<const double> weights, double total,
                                 Xoshiro256PlusPlus& rng) {
  return scanned_pick(weights, unit_f64(rng) * total);
}

// Where the weighted pick of a list changes, for lists long enough that searching beats the scan.
// The pick is a non-decreasing function of t = unit_f64 * total as long as every weight is finite:
// each rounded subtraction is non-decreasing in t, and the pick passes position j exactly when
// every t after positions 0..j is above 0. So "the pick passes j" holds from some least t on; the
// bands bracket those thresholds without running the scan per threshold.
//
// Entry j (for j = 0 .. size - 2): every t below lower[j] picks j or less, every t above upper[j]
// picks more than j; between them (a band as wide as the scan's running error bound, some j units
// in the last place of the cumulative weights) the scan decides. Both arrays are non-decreasing.
// Empty when the scan is used instead: a list of at most SCANNED_WEIGHTS, a weight that is not
// finite, or cumulative weights or bands beyond 2^1019 in magnitude.
struct PickBands {
  std::vector<double> lower;
  std::vector<double> upper;
};

// Lists this long or shorter are scanned: a scan of one block of eight takes no longer than a
// search (about 9 ns against 12 ns on x86-64; a scan of 16 takes 22 ns).
inline constexpr std::size_t SCANNED_WEIGHTS = 8;

// The bands of a list of weights (they do not depend on the total): one pass, O(weights.size())
// time and two doubles a weight. The bound behind them is derived in index_pick.cpp.
PickBands pick_bands(std::span<const double> weights);

// The pick of weighted_pick for t = unit_f64 * total, by the bands of the same weights and total.
// A binary search for the first lower bound above t, then the scan itself when t lies within a band
// (rare: the share of such t is the bands' width over the total).
inline std::size_t pick_in_bands(std::span<const double> weights, const PickBands& bands,
                                 double t) {
  // The number of lower bounds at or below t. The outcome of each comparison is as random as the
  // draw, so the search steps by a mask rather than a branch (which compilers tend to emit for a
  // conditional expression here).
  const double* lower = bands.lower.data();
  std::size_t first = 0;
  std::size_t length = bands.lower.size();
  while (length > 1) {
    const std::size_t half = length / 2;
    // Fetch both places the next step may look at while this one waits for its load (lists past
    // the caches; Khuong and Morin, Array layouts for comparison-based searching, 2017, 3.1).
    __builtin_prefetch(lower + first + half / 2);
    __builtin_prefetch(lower + first + half + half / 2);
    first += half & (std::size_t{0} - static_cast<std::size_t>(lower[first + half - 1] <= t));
    length -= half;
  }
  const std::size_t below = first + static_cast<std::size_t>(lower[first] <= t);
  // Every t below lower[below] picks `below` or less; every t above upper[below - 1] picks more
  // than below - 1.
  if (below == 0 || bands.upper[below - 1] < t) [[likely]] return below;
  return scanned_pick(weights, t);
}

// weighted_pick by the bands of the same weights and total (computed with pick_bands): the same
// pick and the same single step, in O(log n) for all but a tiny share of draws. Falls back to the
// scan when `bands` is empty.
inline std::size_t weighted_pick(std::span<const double> weights, double total,
                                 const PickBands& bands, Xoshiro256PlusPlus& rng) {
  if (bands.lower.empty()) return weighted_pick(weights, total, rng);
  return pick_in_bands(weights, bands, unit_f64(rng) * total);
}

// Where weighted picks land with respect to the first n positions (those that have a value), over
// all draws: for judging a choice before sampling it. weights and total are as for weighted_pick.
// A draw of exactly 0 (one in 2^53) and the rounding of the scan (which may move a pick whose draw
// lies within a few units in the last place of a cumulative weight) are left out.
struct PicksPast {
  double share = 0;       // the share of draws that pick a position >= n, 0 to 1
  bool always = false;    // every draw does (then share is 1)
  std::size_t lowest = 0;   // the lowest and highest positions >= n that draws pick,
  std::size_t highest = 0;  // when share > 0
};
PicksPast picks_past(std::span<const double> weights, double total, std::size_t n);

}  // namespace tessary
