#include "sampling/poisson.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "sampling/stream_helpers.h"

namespace tessary {
namespace {

using testing::rng_drawing_first;
using testing::steps_between;

// The first values of one seed's stream and the steps each took, on both paths and at both ends of
// the means. These pin the stream (recorded from this implementation).
TEST(Poisson, StreamAndStepsArePinned) {
  struct Draw {
    std::int64_t value;
    int steps;
  };
  struct Case {
    double mean;
    std::vector<Draw> draws;
  };
  const Case cases[] = {
      {0.0, {{0, 1}, {0, 1}, {0, 1}}},
      {0.5, {{0, 1}, {0, 1}, {0, 1}, {0, 1}, {1, 1}}},
      {9.99, {{10, 1}, {8, 1}, {8, 1}, {9, 1}, {12, 1}}},
      {10.0, {{10, 2}, {7, 2}, {12, 2}, {5, 4}, {11, 2}}},
      {1234.5, {{1237, 2}, {1207, 2}, {1261, 2}, {1180, 4}, {1244, 2}}},
      {1e9, {{1000002159, 2}, {999975299, 2}, {1000023773, 2}, {999950662, 4}, {1000008107, 2}}},
  };
  for (const Case& c : cases) {
    const PoissonDraw poisson = prepare_poisson(c.mean);
    Xoshiro256PlusPlus rng = seed_from_u64(2024);
    for (std::size_t i = 0; i < c.draws.size(); ++i) {
      const Xoshiro256PlusPlus before = rng;
      EXPECT_EQ(draw_poisson(poisson, rng), c.draws[i].value) << c.mean << ", draw " << i;
      EXPECT_EQ(steps_between(before, rng), c.draws[i].steps) << c.mean << ", draw " << i;
    }
  }
}

// The smallest draw gives 0; the largest below 1 ends the search within its bound, at a value no
// sum of probabilities had reached (but 0 where e^-mean rounds to 1). One step each.
TEST(Poisson, InversionEndsAtBothEndsOfTheDraw) {
  struct Case {
    double mean;
    std::int64_t least_at_top;  // the value of the largest draw is at least this
  };
  for (const Case& c : {Case{0.0, 0}, Case{1e-300, 0}, Case{1e-3, 3}, Case{1.0, 10},
                        Case{9.999999, 30}}) {
    const PoissonDraw poisson = prepare_poisson(c.mean);
    for (std::uint64_t first_draw : {std::uint64_t{0x7FF}, ~std::uint64_t{0}}) {
      Xoshiro256PlusPlus rng = rng_drawing_first(first_draw);
      const Xoshiro256PlusPlus before = rng;
      const std::int64_t value = draw_poisson(poisson, rng);
      EXPECT_EQ(steps_between(before, rng), 1) << c.mean;
      if (first_draw == 0x7FF) {
        EXPECT_EQ(value, 0) << c.mean;
      } else {
        EXPECT_GE(value, c.least_at_top) << c.mean;
        EXPECT_LE(value, POISSON_SEARCH_LIMIT) << c.mean;
      }
    }
  }
}

// Over many seeds: values in range, steps 1 by inversion and an even number by PTRS, and the
// sample mean and variance near the mean.
TEST(Poisson, ValuesStepsAndMomentsOverManySeeds) {
  constexpr int kSeeds = 4000;
  for (double mean : {0.0, 2.5, 9.5, 10.0, 37.25, 1e4, 1e9}) {
    const PoissonDraw poisson = prepare_poisson(mean);
    double sum = 0;
    double sum_sq = 0;
    for (std::uint64_t seed = 0; seed < kSeeds; ++seed) {
      Xoshiro256PlusPlus rng = entity_rng(seed, 11);
      const Xoshiro256PlusPlus before = rng;
      const std::int64_t value = draw_poisson(poisson, rng);
      const int steps = steps_between(before, rng);
      ASSERT_GE(value, 0) << mean;
      if (mean < POISSON_INVERSION_BELOW) {
        ASSERT_EQ(steps, 1) << mean;
      } else {
        ASSERT_TRUE(steps >= 2 && steps % 2 == 0) << mean << ": " << steps;
      }
      const double deviation = static_cast<double>(value) - mean;
      sum += deviation;
      sum_sq += deviation * deviation;
    }
    // The sample mean within 5 standard errors; the variance within 15% (its standard error is
    // about 2.3% here).
    EXPECT_LE(std::fabs(sum / kSeeds), 5 * std::sqrt(mean / kSeeds) + 1e-12) << mean;
    EXPECT_NEAR(sum_sq / kSeeds, mean, 0.15 * mean + 1e-12) << mean;
  }
}

// The shape, coarsely, on each side of the switch to PTRS: a chi-square of the counts against the
// probabilities k -> e^-mean mean^k / k!, over bins of at least 50 expected values.
TEST(Poisson, CountsFollowTheProbabilities) {
  constexpr int kSeeds = 5000;
  for (double mean : {3.0, 9.9, 10.0, 25.0}) {
    const PoissonDraw poisson = prepare_poisson(mean);
    std::vector<int> counts(200);
    for (std::uint64_t seed = 0; seed < kSeeds; ++seed) {
      Xoshiro256PlusPlus rng = entity_rng(seed, 5);
      ++counts[static_cast<std::size_t>(draw_poisson(poisson, rng))];
    }
    double chi_square = 0;
    int bins = 0;
    double bin_expected = 0;
    double bin_count = 0;
    double probability = std::exp(-mean);
    double remaining = 1.0;
    for (std::size_t k = 0; k < counts.size(); ++k) {
      if (k > 0) probability *= mean / static_cast<double>(k);
      bin_expected += kSeeds * probability;
      bin_count += counts[k];
      remaining -= probability;
      if (bin_expected >= 50 && kSeeds * remaining >= 50) {
        chi_square += (bin_count - bin_expected) * (bin_count - bin_expected) / bin_expected;
        ++bins;
        bin_expected = bin_count = 0;
      }
    }
    chi_square += (bin_count - bin_expected) * (bin_count - bin_expected) / bin_expected;
    ++bins;
    // Far beyond the 0.9999 quantile for bins - 1 degrees of freedom (at most about 20 here).
    EXPECT_LT(chi_square, 3.0 * bins + 20) << mean << " over " << bins << " bins";
  }
}

}  // namespace
}  // namespace tessary
