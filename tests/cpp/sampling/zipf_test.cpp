#include "sampling/zipf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "sampling/stream_helpers.h"

namespace tessary {
namespace {

using testing::steps_between;

// The first values of one seed's stream and the steps each took. These pin the stream (recorded
// from this implementation).
TEST(Zipf, StreamAndStepsArePinned) {
  struct Draw {
    std::int64_t value;
    int steps;
  };
  struct Case {
    std::int64_t n;
    double s;
    std::vector<Draw> draws;
  };
  const Case cases[] = {
      {10, 1.0, {{3, 1}, {1, 1}, {1, 1}, {2, 1}, {5, 1}}},
      {1000000, 0.5, {{275390, 1}, {87271, 1}, {59585, 1}, {178148, 1}, {560062, 1}}},
      {100, 2.5, {{1, 1}, {1, 1}, {1, 1}, {1, 1}, {2, 1}}},
      {ZIPF_MAX_N, 1.1, {{725, 1}, {17, 1}, {8, 1}, {112, 1}, {273339, 1}}},
      {ZIPF_MAX_N,
       0.3,
       {{3582161851741324, 1},
        {1573961342539705, 1},
        {1197540710800592, 1},
        {2623108671780452, 1},
        {5951232906559464, 1}}},
  };
  for (const Case& c : cases) {
    const ZipfDraw zipf = prepare_zipf(c.n, c.s);
    Xoshiro256PlusPlus rng = seed_from_u64(2024);
    for (std::size_t i = 0; i < c.draws.size(); ++i) {
      const Xoshiro256PlusPlus before = rng;
      EXPECT_EQ(draw_zipf(zipf, rng), c.draws[i].value) << c.n << ", " << c.s << ", draw " << i;
      EXPECT_EQ(steps_between(before, rng), c.draws[i].steps) << c.n << ", " << c.s;
    }
  }
}

// Over many seeds and the edge parameters: values in 1..n, one step per attempt, and few attempts.
// n = 1 gives 1 after exactly one step; s = 50 gives 1 but for about one draw in 2^50. The bound on
// the attempts holds at n = 2^53 too: rounding must not reject on its own.
TEST(Zipf, ValuesAndStepsOverManySeeds) {
  constexpr int kSeeds = 3000;
  for (std::int64_t n : {std::int64_t{1}, std::int64_t{2}, std::int64_t{1000}, ZIPF_MAX_N}) {
    for (double s : {0.01, 0.5, 1.0 - 1e-12, 1.0, 1.0 + 1e-12, 2.0, 50.0}) {
      const ZipfDraw zipf = prepare_zipf(n, s);
      int steps = 0;
      for (std::uint64_t seed = 0; seed < kSeeds; ++seed) {
        Xoshiro256PlusPlus rng = entity_rng(seed, 13);
        const Xoshiro256PlusPlus before = rng;
        const std::int64_t value = draw_zipf(zipf, rng);
        const int taken = steps_between(before, rng, 100);
        ASSERT_TRUE(value >= 1 && value <= n) << n << ", " << s << ": " << value;
        ASSERT_GE(taken, 1) << n << ", " << s;
        if (n == 1 || s == 50.0) {
          ASSERT_EQ(value, 1) << n << ", " << s;
          ASSERT_EQ(taken, 1) << n << ", " << s;
        }
        steps += taken;
      }
      // At most 1.017 attempts expected.
      EXPECT_LT(steps, kSeeds * 1.06) << n << ", " << s;
    }
  }
}

// The law at the largest n, where h(k) = k^-s falls far below the rounding unit of H: the share
// of values up to m against H(m, s) / H(n, s), with H(m, s) = 1^-s + ... + m^-s summed up to 2^20
// and continued by the Euler-Maclaurin formula (terms to the first derivative; the next is below
// 10^-12 relative there). Within 5 standard deviations of 200000 draws.
TEST(Zipf, LargestNFollowsTheLaw) {
  constexpr int kDraws = 200000;
  constexpr std::int64_t kSummed = std::int64_t{1} << 20;
  for (double s : {0.01, 0.3, 0.7, 0.9, 1.1}) {
    std::vector<double> partial_sums(kSummed + 1, 0.0);
    for (std::int64_t k = 1; k <= kSummed; ++k) {
      partial_sums[k] = partial_sums[k - 1] + std::exp(-s * std::log(static_cast<double>(k)));
    }
    const auto harmonic = [&](std::int64_t m) {
      const double x = static_cast<double>(m);
      const double a = static_cast<double>(kSummed);
      const auto power = [](double y, double e) { return std::exp(e * std::log(y)); };
      return partial_sums[kSummed] + (power(x, 1 - s) - power(a, 1 - s)) / (1 - s) +
             (power(x, -s) - power(a, -s)) / 2 - s * (power(x, -s - 1) - power(a, -s - 1)) / 12;
    };
    const std::int64_t bounds[] = {ZIPF_MAX_N >> 1, ZIPF_MAX_N >> 4, ZIPF_MAX_N >> 12,
                                   ZIPF_MAX_N >> 24};
    int counts[4] = {};
    const ZipfDraw zipf = prepare_zipf(ZIPF_MAX_N, s);
    for (std::uint64_t seed = 0; seed < kDraws; ++seed) {
      Xoshiro256PlusPlus rng = entity_rng(seed, 23);
      const std::int64_t value = draw_zipf(zipf, rng);
      for (int i = 0; i < 4; ++i) counts[i] += value <= bounds[i];
    }
    const double total = harmonic(ZIPF_MAX_N);
    for (int i = 0; i < 4; ++i) {
      const double p = harmonic(bounds[i]) / total;
      const double sigma = std::sqrt(p * (1 - p) / kDraws);
      EXPECT_NEAR(static_cast<double>(counts[i]) / kDraws, p, 5 * sigma)
          << s << ", k <= 2^53 / " << (ZIPF_MAX_N / bounds[i]);
    }
  }
}

// Near s = 1 the integral's (x^(1-s) - 1) / (1 - s) must not lose its digits: computed directly at
// s = 1 +- 1e-12 it would be off by about 1e-4 relative, and so would the values. Done right, s = 1
// +- 1e-12 changes the probabilities by a factor k^(-+1e-12): for n = 1000 the draws equal those of
// s = 1 but for draws within about 1e-11 of a boundary (none expected here); for n = 2^53 the
// values move, by less than 1e-9 relative (the quantile of k moves by about 1e-12 log^2 k).
TEST(Zipf, ExponentsNearOneDrawAsOne) {
  for (std::int64_t n : {std::int64_t{1000}, ZIPF_MAX_N}) {
    const ZipfDraw one = prepare_zipf(n, 1.0);
    for (double s : {1.0 - 1e-12, 1.0 + 1e-12}) {
      const ZipfDraw near_one = prepare_zipf(n, s);
      int desynchronised = 0;
      for (std::uint64_t seed = 0; seed < 20000; ++seed) {
        Xoshiro256PlusPlus rng_one = entity_rng(seed, 17);
        Xoshiro256PlusPlus rng_near = rng_one;
        const auto value_one = static_cast<double>(draw_zipf(one, rng_one));
        const auto value_near = static_cast<double>(draw_zipf(near_one, rng_near));
        // One of the two rejecting alone (an x within about 1e-12 of a block's foot) gives
        // unrelated values.
        if (!testing::same_state(rng_one, rng_near)) {
          ++desynchronised;
          continue;
        }
        if (n == 1000) {
          ASSERT_EQ(value_near, value_one) << s << ", seed " << seed;
        } else {
          ASSERT_LE(std::fabs(value_near - value_one), 1e-9 * value_one + 1.0)
              << s << ", seed " << seed;
        }
      }
      EXPECT_LE(desynchronised, 0) << n << ", " << s;
    }
  }
}

// The shape, coarsely: a chi-square of the counts against k^-s / sum, for n = 10.
TEST(Zipf, CountsFollowTheProbabilities) {
  constexpr int kSeeds = 5000;
  constexpr int kN = 10;
  for (double s : {0.01, 1.0, 2.5}) {
    const ZipfDraw zipf = prepare_zipf(kN, s);
    int counts[kN + 1] = {};
    for (std::uint64_t seed = 0; seed < kSeeds; ++seed) {
      Xoshiro256PlusPlus rng = entity_rng(seed, 19);
      ++counts[draw_zipf(zipf, rng)];
    }
    double total = 0;
    for (int k = 1; k <= kN; ++k) total += std::exp(-s * std::log(k));
    double chi_square = 0;
    double tail_expected = 0;
    double tail_count = 0;
    int bins = 0;
    for (int k = 1; k <= kN; ++k) {
      const double expected = kSeeds * std::exp(-s * std::log(k)) / total;
      if (expected >= 50) {
        chi_square += (counts[k] - expected) * (counts[k] - expected) / expected;
        ++bins;
      } else {
        tail_expected += expected;
        tail_count += counts[k];
      }
    }
    if (tail_expected > 0) {
      chi_square += (tail_count - tail_expected) * (tail_count - tail_expected) / tail_expected;
      ++bins;
    }
    // The 0.9999 quantile for 9 degrees of freedom is 33.7.
    EXPECT_LT(chi_square, 34.0) << s << " over " << bins << " bins";
  }
}

}  // namespace
}  // namespace tessary
