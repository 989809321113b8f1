#include "kinds/uniform_float.h"

#include <gtest/gtest.h>

#include "sampling/sample_value.h"

#include <bit>
#include <cstdint>
#include <limits>

#include "sampling/stream_helpers.h"

namespace tessary {
namespace {

using testing::rng_drawing_first;
using testing::steps_between;

constexpr std::uint64_t kMaxU64 = std::numeric_limits<std::uint64_t>::max();
constexpr double kMaxF64 = std::numeric_limits<double>::max();

std::uint64_t bits(double d) {
  return std::bit_cast<std::uint64_t>(d);
}

TEST(SampleUniformFloat, NeverLeavesTheRangeAndTakesOneStep) {
  const double one_up = std::nextafter(1.0, 2.0);
  const UniformFloat ranges[] = {
      {1.0, one_up},
      {0.0, 1.0},
      {0.1, 0.3},
      {-1.0, 1.0},
      {2.5, 2.75},
      {1e16, 1e16 + 2},
      {-one_up, -1.0},
      {std::numeric_limits<double>::denorm_min(), 3 * std::numeric_limits<double>::denorm_min()},
      {0.0, kMaxF64},
      {-kMaxF64, 0.0},
      {-8e307, 8e307},
      {-1e300, 1e-300},
  };
  for (const UniformFloat& range : ranges) {
    bool reached_high = false;
    auto check = [&](Xoshiro256PlusPlus rng) {
      const Xoshiro256PlusPlus before = rng;
      const AttributeValue v = testing::sample_value(range, rng);
      ASSERT_EQ(v.kind, AttributeValue::Kind::Double);
      ASSERT_LE(v.d, range.high) << range.low << ".." << range.high;
      ASSERT_GE(v.d, range.low) << range.low << ".." << range.high;
      ASSERT_EQ(steps_between(before, rng), 1);
      reached_high |= v.d == range.high;
    };
    for (std::uint64_t seed = 0; seed < 20000; ++seed) check(seed_from_u64(seed));
    check(rng_drawing_first(0xFFF));    // u = 0 (the low 12 bits are not used)
    check(rng_drawing_first(kMaxU64));  // u = 1 - 2^-52, the largest sample
    if (range.low == 1.0) {
      EXPECT_TRUE(reached_high) << "a two-value range reaches its high end";
    }
  }
}

TEST(SampleUniformFloat, ExtremeDrawsGiveTheEnds) {
  struct Case {
    UniformFloat range;
    std::uint64_t first_draw;
    double value;
  };
  const Case cases[] = {
      {{-3.0, 5.0}, 0, -3.0},
      {{-3.0, 5.0}, 0xFFF, -3.0},  // the low 12 bits of the draw are not used
      {{-3.0, 5.0}, kMaxU64, 5.0 - 8 * 0x1p-52},
      {{1.0, std::nextafter(1.0, 2.0)}, kMaxU64, std::nextafter(1.0, 2.0)},
      {{2.5, 2.75}, kMaxU64, 2.75},  // the largest sample may equal high
  };
  for (const Case& c : cases) {
    Xoshiro256PlusPlus rng = rng_drawing_first(c.first_draw);
    EXPECT_EQ(bits(testing::sample_value(c.range, rng).d), bits(c.value)) << c.range.low;
  }
}

}  // namespace
}  // namespace tessary
