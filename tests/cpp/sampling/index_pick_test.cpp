#include "sampling/index_pick.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "sampling/stream_helpers.h"
#include "records/attr_spec.h"

namespace tessary {
namespace {

using testing::rng_drawing_first;
using testing::steps_between;

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double total_of(const std::vector<double>& weights) {
  double total = -0.0;
  for (double w : weights) total += w;
  return total;
}

TEST(UniformIndex, PinnedDrawsShowTheWordSizeAndTheCorrection) {
  struct Case {
    const char* label;
    std::uint64_t first_draw;
    std::uint64_t n;
    std::uint64_t index;
    int steps;
  };
  const Case cases[] = {
      // 0x55555555 * 3 = 0xFFFFFFFF: the low word is within 3 of overflowing, so a second draw
      // is taken and its carry raises the index from 0 to 1.
      {"32-bit correction", 0x5555555500000000, 3, 1, 2},
      {"32-bit no correction", 0x5555555400000000, 3, 0, 1},
      // Below 2^32 only the upper half of the draw counts; from 2^32 on the whole draw.
      {"largest 32-bit n, upper half", 0xFFFFFFFF00000000, 0xFFFFFFFF, 0xFFFFFFFE, 1},
      {"largest 32-bit n, lower half ignored", 0x00000000FFFFFFFF, 0xFFFFFFFF, 0, 1},
      // With n = 2^32 - 1 nearly every 32-bit draw corrects (lo > 1); the 64-bit form would not.
      {"largest 32-bit n corrects", 0x123456789ABCDEF0, 0xFFFFFFFF, 0x12345678, 2},
      {"smallest 64-bit n", 0xFFFFFFFF00000000, 0x100000000, 0xFFFFFFFF, 1},
      {"64-bit correction", 0x00000000FFFFFFFF, kMax, 0xFFFFFFFF, 2},
      {"64-bit largest draw", kMax, kMax, kMax - 1, 1},
  };
  for (const Case& c : cases) {
    Xoshiro256PlusPlus rng = rng_drawing_first(c.first_draw);
    const Xoshiro256PlusPlus before = rng;
    EXPECT_EQ(uniform_index(c.n, rng), c.index) << c.label;
    EXPECT_EQ(steps_between(before, rng), c.steps) << c.label;
  }
}

TEST(UniformIndex, StaysBelowNAndCoversTheRange) {
  for (std::uint64_t n : {std::uint64_t{1}, std::uint64_t{2}, std::uint64_t{3}, std::uint64_t{7},
                          std::uint64_t{0xFFFFFFFF}, std::uint64_t{0x100000001}, kMax}) {
    Xoshiro256PlusPlus rng = seed_from_u64(n);
    for (int draw = 0; draw < 20000; ++draw) ASSERT_LT(uniform_index(n, rng), n) << n;
  }
  // Seven buckets of 70000 draws: each near 10000.
  Xoshiro256PlusPlus rng = seed_from_u64(1);
  std::array<int, 7> counts{};
  for (int draw = 0; draw < 70000; ++draw) ++counts[uniform_index(7, rng)];
  for (int count : counts) EXPECT_NEAR(count, 10000, 500);
}

TEST(WeightedPick, CornerCasesPickAsTheScanDictates) {
  struct Case {
    const char* label;
    std::vector<double> weights;
    std::size_t always;  // the pick for every ordinary draw
  };
  const std::vector<Case> cases = {
      {"[0, 0, 1] picks the third", {0, 0, 1}, 2},
      {"[1] picks the first", {1}, 0},
      {"[0, 0, 0] picks the first (t is already 0)", {0, 0, 0}, 0},
      {"a NaN total never stops the scan", {kNaN, 1}, 1},
      {"a NaN weight late in the list", {1, kNaN}, 1},
      {"[1, 0, 0] never passes the first", {1, 0, 0}, 0},
  };
  for (const Case& c : cases) {
    for (std::uint64_t seed = 0; seed < 500; ++seed) {
      Xoshiro256PlusPlus rng = seed_from_u64(seed);
      const Xoshiro256PlusPlus before = rng;
      ASSERT_EQ(weighted_pick(c.weights, total_of(c.weights), rng), c.always)
          << c.label << ", seed " << seed;
      ASSERT_EQ(steps_between(before, rng), 1) << c.label;
    }
  }
}

TEST(WeightedPick, ExtremeDrawsPickTheEnds) {
  struct Case {
    const char* label;
    std::uint64_t first_draw;
    std::vector<double> weights;
    std::size_t index;
  };
  const std::vector<Case> cases = {
      {"a draw of exactly 0 with [0, 0, 1] picks the first", 0, {0, 0, 1}, 0},
      {"a draw of 0 in the lowest 11 bits only is still 0", 0x7FF, {0, 2, 1}, 0},
      {"the largest draw with [1, 1, 1] picks the last", kMax, {1, 1, 1}, 2},
      {"the largest draw with [1, 0] stops at the first", kMax, {1, 0}, 0},
      {"the largest draw with [2, 1, 0] passes the zero-weight end", kMax, {2, 1, 0}, 1},
  };
  for (const Case& c : cases) {
    Xoshiro256PlusPlus rng = rng_drawing_first(c.first_draw);
    EXPECT_EQ(weighted_pick(c.weights, total_of(c.weights), rng), c.index) << c.label;
  }
}

// The plain early-exit scan, as the pick is defined; weighted_pick scans branch-free in blocks.
std::size_t reference_pick(const std::vector<double>& weights, double unit) {
  double t = unit * total_of(weights);
  for (std::size_t j = 0; j < weights.size(); ++j) {
    t -= weights[j];
    if (t <= 0) return j;
  }
  return weights.size() - 1;
}

TEST(WeightedPick, AgreesWithThePlainScanOnLongAndOddLists) {
  Xoshiro256PlusPlus lists = seed_from_u64(77);
  const double specials[] = {0.0, -1.0, kNaN, 1e-300, 1e300, 0.5};
  for (int list = 0; list < 400; ++list) {
    std::vector<double> weights(1 + uniform_index(40, lists));
    for (double& w : weights) {
      // Mostly ordinary weights, some zeros, negatives, NaNs and extremes.
      w = uniform_index(4, lists) == 0 ? specials[uniform_index(6, lists)] : unit_f64(lists) * 10;
    }
    for (std::uint64_t seed = 0; seed < 50; ++seed) {
      Xoshiro256PlusPlus rng = seed_from_u64(seed);
      Xoshiro256PlusPlus unit_rng = rng;
      ASSERT_EQ(weighted_pick(weights, total_of(weights), rng),
                reference_pick(weights, unit_f64(unit_rng)))
          << "list " << list << ", seed " << seed;
    }
  }
}

// The scan's pick for the 53-bit draw u (unit_f64 = u * 2^-53).
std::size_t scan_at(std::span<const double> weights, double total, std::uint64_t u) {
  Xoshiro256PlusPlus rng = rng_drawing_first(u << 11);
  return weighted_pick(weights, total, rng);
}

// Every u in (lo, hi] where the scan's pick differs from the pick at u - 1. The pick is monotone
// in u (t is, and every rounded subtraction is), so equal picks at both ends mean none between.
void add_changes(std::span<const double> weights, double total, std::uint64_t lo,
                 std::size_t pick_lo, std::uint64_t hi, std::size_t pick_hi,
                 std::vector<std::uint64_t>& changes) {
  if (pick_lo == pick_hi) return;
  if (hi == lo + 1) {
    changes.push_back(hi);
    return;
  }
  const std::uint64_t mid = lo + (hi - lo) / 2;
  const std::size_t pick_mid = scan_at(weights, total, mid);
  add_changes(weights, total, lo, pick_lo, mid, pick_mid, changes);
  add_changes(weights, total, mid, pick_mid, hi, pick_hi, changes);
}

// A list of `size` weights of one of several families: lognormal, equal, with zeros and negatives,
// spanning many binades (tiny, huge and subnormal), with cancelling huge weights, or runs of weights
// below half a unit in the last place of 1 between weights of 1. Taken off a t above 1, as near the
// later thresholds, those vanish in the rounding one after another: the error of t grows linearly,
// as the bound of the bands allows for.
std::vector<double> weight_list(std::size_t size, std::uint64_t family, Xoshiro256PlusPlus& rng) {
  constexpr double kDenormMin = std::numeric_limits<double>::denorm_min();
  std::vector<double> weights(size);
  for (std::size_t j = 0; j < size; ++j) {
    double& w = weights[j];
    const double unit = unit_f64(rng);
    const double lognormal = std::exp(4 * (unit_f64(rng) + unit_f64(rng) - 1));
    switch (family) {
      case 0: w = lognormal; break;
      case 1: w = 0.1; break;
      case 2: w = unit < 0.2 ? 0.0 : unit < 0.4 ? -lognormal : lognormal; break;
      case 3: w = lognormal * (unit < 0.3 ? 1e-300 : unit < 0.6 ? 1e300 : 1.0); break;
      case 4: w = kDenormMin * static_cast<double>(uniform_index(1000, rng)); break;
      case 5: w = unit < 0.05 ? (unit < 0.025 ? 1e16 : -1e16) : lognormal; break;
      default: w = j % 64 == 63 ? 1.0 : 0x1.4p-54 * (1 + unit / 2); break;
    }
  }
  return weights;
}

// The search over the bands must give the scan's pick everywhere: at every draw where the pick
// changes and at its neighbours (where a band too narrow would show), and at random draws.
TEST(WeightedPickBands, GiveTheScansPickAtEveryChangeAndItsNeighbours) {
  constexpr std::uint64_t kLastDraw = (std::uint64_t{1} << 53) - 1;
  Xoshiro256PlusPlus lists = seed_from_u64(53);
  for (int list = 0; list < 120; ++list) {
    const std::size_t size = list % 20 == 0 ? 2000 : 1 + uniform_index(300, lists);
    const Choice choice = make_choice({}, weight_list(size, uniform_index(7, lists), lists));
    const std::span<const double> weights = pick_weights(choice);
    const double total = choice.weight_total;
    const auto fast_at = [&](std::uint64_t u) {
      Xoshiro256PlusPlus rng = rng_drawing_first(u << 11);
      return weighted_pick(weights, total, choice.pick_bands, rng);
    };
    std::vector<std::uint64_t> changes;
    add_changes(weights, total, 0, scan_at(weights, total, 0), kLastDraw,
                scan_at(weights, total, kLastDraw), changes);
    std::vector<std::uint64_t> draws = {0, 1, kLastDraw};
    for (std::uint64_t u : changes) draws.insert(draws.end(), {u - 1, u, u + 1});
    for (int draw = 0; draw < 2000; ++draw) draws.push_back(lists.next_u64() >> 11);
    for (std::uint64_t u : draws) {
      if (u > kLastDraw) continue;
      ASSERT_EQ(fast_at(u), scan_at(weights, total, u))
          << "list " << list << " of " << size << " weights, draw " << u;
    }
  }
}

// The bands of ordinary weights are narrow, so that nearly every pick is a search, not a scan.
TEST(WeightedPickBands, AreNarrowForLognormalWeights) {
  Xoshiro256PlusPlus rng = seed_from_u64(7);
  for (std::size_t size : {std::size_t{9}, std::size_t{1000}, std::size_t{100000}}) {
    const Choice choice = make_choice({}, weight_list(size, 0, rng));
    const PickBands& bands = choice.pick_bands;
    ASSERT_EQ(bands.lower.size(), size - 1);
    double width = 0;
    for (std::size_t j = 0; j + 1 < size; ++j) width += bands.upper[j] - bands.lower[j];
    // The running error bound grows as size^2 u: about 1e-12 of the total at 10^5 weights.
    EXPECT_LT(width / choice.weight_total, 1e-16 * static_cast<double>(size * size)) << size;
  }
}

// picks_past must agree with what weighted_pick does: every pick at or past n is in its range, a
// list it calls "always" never picks below n, and the share matches the picks' frequency.
TEST(PicksPast, AgreesWithTheDrawnPicks) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  // Small integers make zero and negative totals common; 1e308 makes totals that overflow.
  const double pool[] = {0, 1, 2, 3, -1, -2, 0.5, 1e308, 1e308, kInf, -kInf, kNaN};
  Xoshiro256PlusPlus lists = seed_from_u64(2024);
  constexpr int kDraws = 2000;
  for (int list = 0; list < 300; ++list) {
    std::vector<double> weights(1 + uniform_index(6, lists));
    for (double& w : weights) {
      const std::uint64_t at = uniform_index(std::size(pool) + 3, lists);
      w = at < std::size(pool) ? pool[at] : unit_f64(lists) * 4;
    }
    const Choice choice = make_choice({}, weights);
    for (std::size_t n = 0; n <= weights.size(); ++n) {
      const PicksPast past = picks_past(pick_weights(choice), choice.weight_total, n);
      int beyond = 0;
      Xoshiro256PlusPlus rng = seed_from_u64(list * 31 + n);
      for (int draw = 0; draw < kDraws; ++draw) {
        const std::size_t pick = weighted_pick(pick_weights(choice), choice.weight_total, rng);
        if (pick < n) continue;
        ++beyond;
        ASSERT_TRUE(past.share > 0 && past.lowest <= pick && pick <= past.highest)
            << "list " << list << ", n " << n << ", pick " << pick;
      }
      if (past.always) {
        ASSERT_EQ(beyond, kDraws) << "list " << list << ", n " << n;
      }
      // Five standard deviations of a share of one half.
      ASSERT_NEAR(static_cast<double>(beyond) / kDraws, past.share, 0.056)
          << "list " << list << ", n " << n;
    }
  }
}

}  // namespace
}  // namespace tessary
