#include "sampling/geometric.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "sampling/stream_helpers.h"

namespace tessary {
namespace {

using testing::rng_drawing_first;
using testing::steps_between;

// The first values of one seed's stream for two p. These pin the stream; they were computed
// independently, by a separate implementation of the generator and of the inversion.
TEST(Geometric, StreamIsPinned) {
  struct Case {
    double p;
    std::vector<std::int64_t> values;
  };
  const Case cases[] = {
      {0.3, {2, 4, 4, 3, 1, 1}},
      {1e-6, {645441, 1221100, 1412428, 863565}},
  };
  for (const Case& c : cases) {
    const GeometricDraw geometric = prepare_geometric(c.p);
    Xoshiro256PlusPlus rng = seed_from_u64(2024);
    for (std::int64_t expected : c.values) EXPECT_EQ(draw_geometric(geometric, rng), expected);
  }
}

// p = 1 and the smallest p at both ends of the draw; every draw takes one step.
TEST(Geometric, EdgeParametersAtTheEndsOfTheDraw) {
  struct Case {
    const char* path;
    double p;
    std::uint64_t first_draw;
    std::int64_t value;
  };
  const Case cases[] = {
      {"p = 1, u = 2^-53", 1.0, 0x7FF, 1},
      {"p = 1, u = 1", 1.0, 0xFFFFFFFFFFFFF800, 1},
      {"p = 1/2, u = 1/2: one failure, then success", 0.5, 0x7FFFFFFFFFFFF800, 2},
      {"p = 1/2, u just above 1/2: success at once", 0.5, 0x8000000000000000, 1},
      {"least p, u = 1", GEOMETRIC_MIN_P, 0xFFFFFFFFFFFFF800, 1},
      // 36.7368... / p rounds to 2^63 - 2048, the largest double below 2^63.
      {"least p, u = 2^-53: the largest value", GEOMETRIC_MIN_P, 0x7FF,
       std::numeric_limits<std::int64_t>::max() - 2046},
  };
  for (const Case& c : cases) {
    const GeometricDraw geometric = prepare_geometric(c.p);
    Xoshiro256PlusPlus rng = rng_drawing_first(c.first_draw);
    const Xoshiro256PlusPlus before = rng;
    EXPECT_EQ(draw_geometric(geometric, rng), c.value) << c.path;
    EXPECT_EQ(steps_between(before, rng), 1) << c.path;
  }
}

// What GEOMETRIC_MIN_P's static checks assume of the C library and of log_one_plus: the logarithm
// of the smallest draw, and log(1 - p) = -p exactly below 2^-53.
TEST(Geometric, LeastPRestsOnTheComputedLogarithms) {
  EXPECT_EQ(std::log(0x1p-53), LOG_SMALLEST_POSITIVE_UNIT);
  EXPECT_EQ(prepare_geometric(GEOMETRIC_MIN_P).log_failure, -GEOMETRIC_MIN_P);
}

TEST(Geometric, ValuesAreAtLeastOneAndFollowTheDistribution) {
  const GeometricDraw geometric = prepare_geometric(0.25);
  constexpr int kSeeds = 8000;
  int counts[6] = {};  // values 1..5, and above 5
  for (std::uint64_t seed = 0; seed < kSeeds; ++seed) {
    Xoshiro256PlusPlus rng = entity_rng(seed, 3);
    const std::int64_t value = draw_geometric(geometric, rng);
    ASSERT_GE(value, 1);
    ++counts[value > 5 ? 5 : value - 1];
  }
  // P(X = k) = 0.25 * 0.75^(k-1), P(X > 5) = 0.75^5. Chi-square with 5 degrees of freedom; its
  // 0.9999 quantile is 25.7.
  double chi_square = 0;
  for (int bin = 0; bin < 6; ++bin) {
    const double probability = bin < 5 ? 0.25 * std::pow(0.75, bin) : std::pow(0.75, 5);
    const double expected = kSeeds * probability;
    chi_square += (counts[bin] - expected) * (counts[bin] - expected) / expected;
  }
  EXPECT_LT(chi_square, 25.0);
}

}  // namespace
}  // namespace tessary
