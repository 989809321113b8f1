#include "sampling/exponential.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>

#include "sampling/stream_helpers.h"

namespace tessary {
namespace {

using testing::rng_drawing_first;
using testing::steps_between;

// The ends of the draw, and the first values of one seed's stream. These pin the stream; they were
// computed independently, by a separate implementation of the generator and of -log(u).
TEST(StandardExponential, EndsAndStreamArePinnedAndTakeOneStep) {
  struct Case {
    const char* path;
    Xoshiro256PlusPlus rng;
    std::uint64_t value_bits;
  };
  const Case cases[] = {
      {"top 53 bits all set: u = 1 gives +0.0", rng_drawing_first(0xFFFFFFFFFFFFF800), 0},
      {"top 53 bits clear: u = 2^-53 gives 53 log 2", rng_drawing_first(0x7FF),
       0x40425E4F7B2737FA},
      {"seed 2024, first", seed_from_u64(2024), 0x3FE4A77296173E9E},
  };
  for (const Case& c : cases) {
    Xoshiro256PlusPlus rng = c.rng;
    const double value = standard_exponential(rng);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(value), c.value_bits) << c.path << ": " << value;
    EXPECT_EQ(steps_between(c.rng, rng), 1) << c.path;
  }
  Xoshiro256PlusPlus rng = seed_from_u64(2024);
  const std::uint64_t stream[] = {0x3FE4A77296173E9E, 0x3FF389A029E3FCE3, 0x3FF6994DFCB7EC60,
                                  0x3FEBA252B66FB426};
  for (std::uint64_t bits : stream) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(standard_exponential(rng)), bits);
  }
}

TEST(StandardExponential, ValuesStayInRangeAndAverageOne) {
  constexpr int kSeeds = 20000;
  double sum = 0;
  int above_one = 0;
  for (std::uint64_t seed = 0; seed < kSeeds; ++seed) {
    Xoshiro256PlusPlus rng = entity_rng(seed, 7);
    const double value = standard_exponential(rng);
    ASSERT_GE(value, 0.0);
    ASSERT_LE(value, 36.74);
    sum += value;
    above_one += value > 1.0;
  }
  EXPECT_NEAR(sum / kSeeds, 1.0, 0.03);                    // 4 standard errors
  EXPECT_NEAR(above_one / double(kSeeds), std::exp(-1.0), 0.015);
}

}  // namespace
}  // namespace tessary
