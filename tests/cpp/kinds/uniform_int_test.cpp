#include "kinds/uniform_int.h"

#include <gtest/gtest.h>

#include "sampling/sample_value.h"

#include <cstdint>
#include <limits>

#include "sampling/stream_helpers.h"

namespace tessary {
namespace {

using testing::rng_drawing_first;
using testing::steps_between;

constexpr std::int64_t kMinI64 = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMaxI64 = std::numeric_limits<std::int64_t>::max();

std::int64_t integer_of(const AttributeValue& v) {
  EXPECT_TRUE(v.kind == AttributeValue::Kind::Unsigned || v.kind == AttributeValue::Kind::Negative);
  if (v.kind == AttributeValue::Kind::Negative) {
    EXPECT_LT(v.i, 0);
    return v.i;
  }
  EXPECT_LE(v.u, std::uint64_t{kMaxI64});
  return static_cast<std::int64_t>(v.u);
}

TEST(SampleUniformInt, StaysInRangeAndCorrectsOnlyHugeRanges) {
  const UniformInt ranges[] = {
      {18, 80},      {-5, 5},      {7, 7},        {kMinI64, kMinI64},     {kMaxI64, kMaxI64},
      {kMinI64, -1}, {0, kMaxI64}, {-1, kMaxI64}, {kMinI64, kMaxI64 - 1}, {kMinI64 + 1, kMaxI64},
  };
  for (const UniformInt& range : ranges) {
    // A correction needs a first draw within `size` of the top: never seen for small sizes (equal
    // bounds included), about half the time for the huge ones.
    const std::uint64_t size = std::uint64_t(range.high) - std::uint64_t(range.low) + 1;
    for (std::uint64_t seed = 0; seed < 2000; ++seed) {
      Xoshiro256PlusPlus rng = seed_from_u64(seed);
      const Xoshiro256PlusPlus before = rng;
      const std::int64_t value = integer_of(testing::sample_value(range, rng));
      ASSERT_GE(value, range.low);
      ASSERT_LE(value, range.high);
      const int steps = steps_between(before, rng);
      ASSERT_TRUE(steps == 1 || (steps == 2 && size > (std::uint64_t{1} << 40)))
          << range.low << ".." << range.high << " took " << steps;
    }
  }
}

TEST(SampleUniformInt, FullRangeReturnsTheRawDrawAsSigned) {
  bool seen_negative = false;
  bool seen_positive = false;
  for (std::uint64_t seed = 0; seed < 64; ++seed) {
    Xoshiro256PlusPlus rng = seed_from_u64(seed);
    Xoshiro256PlusPlus raw = rng;
    const AttributeValue v = testing::sample_value(UniformInt{kMinI64, kMaxI64}, rng);
    EXPECT_EQ(integer_of(v), static_cast<std::int64_t>(raw.next_u64()));
    EXPECT_TRUE(testing::same_state(rng, raw));
    seen_negative |= v.kind == AttributeValue::Kind::Negative;
    seen_positive |= v.kind == AttributeValue::Kind::Unsigned;
  }
  EXPECT_TRUE(seen_negative && seen_positive);
}

TEST(SampleUniformInt, CorrectionDrawIsTakenAndCarries) {
  struct Case {
    const char* label;
    Xoshiro256PlusPlus rng;
    UniformInt range;
    std::int64_t value;
  };
  const Case cases[] = {
      // Range 2^63 + 1: about half of all first draws take the correction. Here it carries,
      // giving one more than the first draw alone (5941031103849149843).
      {"seed 7, entity 0", entity_rng(7, 0), {-1, kMaxI64}, 5941031103849149844},
      // 0x1041041041041041 * 63 = 2^64 - 1 (mod 2^64): the low word is as high as it gets, so even
      // the small range 18..80 corrects, and the carry turns 18 + 3 into 22.
      {"18..80, crafted draw", rng_drawing_first(0x1041041041041041), {18, 80}, 22},
  };
  for (const Case& c : cases) {
    Xoshiro256PlusPlus rng = c.rng;
    EXPECT_EQ(integer_of(testing::sample_value(c.range, rng)), c.value) << c.label;
    EXPECT_EQ(steps_between(c.rng, rng), 2) << c.label;
  }
}

}  // namespace
}  // namespace tessary
