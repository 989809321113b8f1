#include "sampling/standard_normal.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>

#include "sampling/stream_helpers.h"
#include "sampling/ziggurat_tables.h"

namespace tessary {
namespace {

using testing::rng_drawing_first;
using testing::steps_between;

// A first draw is (position bits << 12) | layer: the upper 52 bits give u = 2.xx - 3 in [-1, 1),
// the low 8 bits the layer. Expected values were computed independently of this code.
TEST(StandardNormal, EachPathReturnsItsPinnedValueAfterItsSteps) {
  struct Case {
    const char* path;
    std::uint64_t first_draw;
    std::uint64_t value_bits;
    int steps;
  };
  const Case cases[] = {
      {"inner rectangle, layer 5, u = 0.5", 0xC000000000000005, 0x3FF92EE0946F3D1A, 1},
      {"inner rectangle, layer 200, u = -0.25", 0x60000000000000C8, 0xBFD08F8690719EFD, 1},
      {"layer 0, u = 0", 0x8000000000000000, 0x0000000000000000, 1},
      {"wedge accepted, layer 10", 0xFFA43FE5C91D160A, 0x4007169059C9428B, 2},
      {"wedge rejected, then inner rectangle", 0xFFDF3B645A1CB00A, 0x3FEBC71CA741D395, 3},
      // X[256] is 0, so the top layer always goes to the wedge test.
      {"top layer, wedge accepted", 0xC0000000000000FF, 0x3FBB8D0BE3D69918, 2},
      {"top layer, rejected twice", 0x40000000000000FF, 0xBFE54DD67C22883E, 5},
      {"tail, negative side", 0x0147AE147AE14000, 0xC00D69D1925D14AB, 3},
      {"tail, positive side", 0xFEB851EB851EC000, 0x401165355D48A158, 3},
  };
  for (const Case& c : cases) {
    Xoshiro256PlusPlus rng = rng_drawing_first(c.first_draw);
    const Xoshiro256PlusPlus before = rng;
    const double z = standard_normal(rng);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(z), c.value_bits) << c.path << ": " << z;
    EXPECT_EQ(steps_between(before, rng), c.steps) << c.path;
  }
}

TEST(StandardNormal, DrawsFollowTheStandardNormalDistribution) {
  Xoshiro256PlusPlus rng = seed_from_u64(12345);
  constexpr int kDraws = 1000000;
  double sum = 0;
  double sum_sq = 0;
  int within_one = 0;
  int beyond_r = 0;
  int negative = 0;
  for (int n = 0; n < kDraws; ++n) {
    const double z = standard_normal(rng);
    ASSERT_TRUE(std::isfinite(z));
    sum += z;
    sum_sq += z * z;
    within_one += std::fabs(z) < 1.0;
    beyond_r += std::fabs(z) > ziggurat::X[1];
    negative += z < 0;
  }
  const double mean = sum / kDraws;
  EXPECT_NEAR(mean, 0.0, 0.005);
  EXPECT_NEAR(sum_sq / kDraws - mean * mean, 1.0, 0.01);
  EXPECT_NEAR(within_one / double(kDraws), 0.682689, 0.003);
  EXPECT_NEAR(negative / double(kDraws), 0.5, 0.003);
  // P(|z| > 3.654) = 2.58e-4: about 258 of a million, through the tail path.
  EXPECT_GT(beyond_r, 180);
  EXPECT_LT(beyond_r, 340);
}

}  // namespace
}  // namespace tessary
