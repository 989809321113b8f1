#include "kinds/normal.h"

#include <gtest/gtest.h>

#include "sampling/sample_value.h"

#include <bit>
#include <cstdint>
#include <limits>
#include <optional>

#include "sampling/standard_normal.h"
#include "sampling/stream_helpers.h"

namespace tessary {
namespace {

using testing::rng_drawing_first;
using testing::steps_between;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::uint64_t bits(double d) {
  return std::bit_cast<std::uint64_t>(d);
}

// Draws whose standard normal value is known (see the standard_normal tests): one step each.
constexpr std::uint64_t kDrawZNegative = 0x60000000000000C8;  // z = -0.2587601099571513
constexpr std::uint64_t kDrawZPositive = 0xC000000000000005;  // z = 1.573944644758575
constexpr double kZPositive = 1.573944644758575;
constexpr std::uint64_t kDrawZMinusLarge = 0x4000000000000005;  // z = -1.573944644758575

TEST(SampleNormal, ClampsMinThenMaxAndTurnsNaNIntoTheBound) {
  struct Case {
    const char* label;
    Normal params;
    std::uint64_t first_draw;
    std::optional<double> value;  // nullopt: null
  };
  const std::optional<double> none;
  const Case cases[] = {
      {"min raises a low value", {0, 1, 0.0, none}, kDrawZNegative, 0.0},
      {"max lowers a high value", {0, 1, none, 0.0}, kDrawZPositive, 0.0},
      {"min above max gives max", {0, 1, 10.0, 5.0}, kDrawZNegative, 5.0},
      {"min above max gives max (high z)", {0, 1, 10.0, 5.0}, kDrawZPositive, 5.0},
      {"a value inside the bounds stays", {0, 1, -1.0, 2.0}, kDrawZPositive, kZPositive},
      // 0 * z is -0.0 for a negative z, and -0.0 + -0.0 is -0.0: equal to the min of 0.0, kept.
      {"-0.0 equal to a min of 0.0 stays -0.0", {-0.0, 0.0, 0.0, none}, kDrawZNegative, -0.0},
      {"0.0 equal to a max of -0.0 stays 0.0", {0.0, 0.0, none, -0.0}, kDrawZPositive, 0.0},
      {"std_dev 0 gives the mean", {42.5, 0.0, none, none}, kDrawZPositive, 42.5},
      {"negative std_dev mirrors", {0, -2.0, none, none}, kDrawZPositive, -2 * kZPositive},
      {"NaN without bounds is null", {kNaN, 1, none, none}, kDrawZPositive, none},
      {"NaN becomes the min", {kNaN, 1, 3.0, none}, kDrawZPositive, 3.0},
      {"NaN becomes the max", {kNaN, 1, none, 4.0}, kDrawZPositive, 4.0},
      {"NaN becomes the min, which the max keeps", {kNaN, 1, 3.0, 4.0}, kDrawZPositive, 3.0},
      {"NaN becomes the min, then the max", {kNaN, 1, 6.0, 4.0}, kDrawZPositive, 4.0},
      {"an infinite mean is null", {kInf, 1, none, none}, kDrawZPositive, none},
      {"an infinite mean is clamped", {kInf, 1, none, 7.0}, kDrawZPositive, 7.0},
      {"overflow is null", {1e308, 1e308, none, none}, kDrawZPositive, none},
      {"overflow below is null", {-1e308, 1e308, none, none}, kDrawZMinusLarge, none},
      {"no overflow the other way",
       {1e308, 1e308, none, none},
       kDrawZNegative,
       1e308 + 1e308 * -0.2587601099571513},
  };
  for (const Case& c : cases) {
    Xoshiro256PlusPlus rng = rng_drawing_first(c.first_draw);
    const Xoshiro256PlusPlus before = rng;
    const AttributeValue v = testing::sample_value(c.params, rng);
    EXPECT_EQ(steps_between(before, rng), 1) << c.label;
    if (!c.value) {
      EXPECT_EQ(v.kind, AttributeValue::Kind::Null) << c.label;
      continue;
    }
    ASSERT_EQ(v.kind, AttributeValue::Kind::Double) << c.label;
    EXPECT_EQ(bits(v.d), bits(*c.value)) << c.label << ": " << v.d;
  }
}

TEST(SampleNormal, TakesTheStepsOfItsStandardNormalDraw) {
  // A zero std_dev still draws z, through every path of the ziggurat.
  for (std::uint64_t draw :
       {kDrawZPositive, std::uint64_t{0xFFDF3B645A1CB00A}, std::uint64_t{0x0147AE147AE14000}}) {
    Xoshiro256PlusPlus rng = rng_drawing_first(draw);
    Xoshiro256PlusPlus reference = rng;
    const AttributeValue v = testing::sample_value(Normal{5.0, 0.0, std::nullopt, std::nullopt}, rng);
    standard_normal(reference);
    EXPECT_EQ(v.d, 5.0);
    EXPECT_TRUE(testing::same_state(rng, reference)) << std::hex << draw;
  }
}

}  // namespace
}  // namespace tessary
