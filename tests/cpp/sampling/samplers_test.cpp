#include "sampling/samplers.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "sampling/standard_normal.h"
#include "sampling/stream_helpers.h"
#include "test_support/json_objects.h"

namespace tessary {
namespace {

using testing::panic_message;
using testing::rng_drawing_first;
using testing::steps_between;

constexpr std::int64_t kMinI64 = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMaxI64 = std::numeric_limits<std::int64_t>::max();
constexpr std::uint64_t kMaxU64 = std::numeric_limits<std::uint64_t>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMaxF64 = std::numeric_limits<double>::max();

std::uint64_t bits(double d) {
  return std::bit_cast<std::uint64_t>(d);
}

// The integer an AttributeValue holds, whatever its sign kind; the kind must match the sign.
std::int64_t integer_of(const AttributeValue& v) {
  EXPECT_TRUE(v.kind == AttributeValue::Kind::Unsigned || v.kind == AttributeValue::Kind::Negative);
  if (v.kind == AttributeValue::Kind::Negative) {
    EXPECT_LT(v.i, 0);
    return v.i;
  }
  EXPECT_LE(v.u, std::uint64_t{kMaxI64});
  return static_cast<std::int64_t>(v.u);
}

// --- uniform_int -------------------------------------------------------------------------------

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
      const std::int64_t value = integer_of(sample_uniform_int(range, rng));
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
    const AttributeValue v = sample_uniform_int({kMinI64, kMaxI64}, rng);
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
    EXPECT_EQ(integer_of(sample_uniform_int(c.range, rng)), c.value) << c.label;
    EXPECT_EQ(steps_between(c.rng, rng), 2) << c.label;
  }
}

// --- uniform_float -----------------------------------------------------------------------------

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
      const AttributeValue v = sample_uniform_float(range, rng);
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
    EXPECT_EQ(bits(sample_uniform_float(c.range, rng).d), bits(c.value)) << c.range.low;
  }
}

// --- normal ------------------------------------------------------------------------------------

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
    const AttributeValue v = sample_normal(c.params, rng);
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
    const AttributeValue v = sample_normal({5.0, 0.0, std::nullopt, std::nullopt}, rng);
    standard_normal(reference);
    EXPECT_EQ(v.d, 5.0);
    EXPECT_TRUE(testing::same_state(rng, reference)) << std::hex << draw;
  }
}

// --- choice ------------------------------------------------------------------------------------

JsonValue number(std::uint64_t n) {
  return JsonNumber::from_u64(n);
}

TEST(SampleChoice, EmptyValuesGiveNullWithoutADraw) {
  for (const Choice& choice : {make_choice({}, {}), make_choice({}, {1.0, 2.0})}) {
    Xoshiro256PlusPlus rng = seed_from_u64(5);
    const Xoshiro256PlusPlus before = rng;
    EXPECT_EQ(sample_choice(choice, rng).kind, AttributeValue::Kind::Null);
    EXPECT_EQ(steps_between(before, rng), 0);
  }
}

TEST(SampleChoice, BorrowsThePickedValueFromTheSpec) {
  const JsonObject object = testing::object_of({{"k", JsonValue(std::string("v"))}});
  const Choice unweighted = make_choice(
      {JsonArray{number(1), number(2)}, JsonValue(object), JsonValue(nullptr)}, {});
  const Choice weighted = make_choice(unweighted.values, {0, 0, 1});
  bool picked[3] = {};
  for (std::uint64_t seed = 0; seed < 200; ++seed) {
    Xoshiro256PlusPlus rng = seed_from_u64(seed);
    const AttributeValue v = sample_choice(unweighted, rng);
    ASSERT_EQ(v.kind, AttributeValue::Kind::Borrowed);
    const std::ptrdiff_t at = v.borrowed - unweighted.values.data();
    ASSERT_TRUE(at >= 0 && at < 3);  // a pointer into the attribute spec, not a copy
    picked[at] = true;

    Xoshiro256PlusPlus rng2 = seed_from_u64(seed);
    EXPECT_EQ(sample_choice(weighted, rng2).borrowed, &weighted.values[2]);
  }
  EXPECT_TRUE(picked[0] && picked[1] && picked[2]);
}

// --- failures ----------------------------------------------------------------------------------

TEST(SampleAttribute, UnusableParametersPanicWithTheirMessage) {
  const std::string range_error = "called `Result::unwrap()` on an `Err` value: ";
  struct Case {
    AttrKind kind;
    std::string message;
    int steps;  // taken before the failure
  };
  const std::vector<Case> cases = {
      {UniformInt{5, 4}, "cannot sample empty range", 0},
      {UniformInt{kMaxI64, kMinI64}, "cannot sample empty range", 0},
      {UniformFloat{1.0, 1.0}, range_error + "EmptyRange", 0},
      {UniformFloat{2.0, 1.0}, range_error + "EmptyRange", 0},
      {UniformFloat{kNaN, 1.0}, range_error + "EmptyRange", 0},
      {UniformFloat{0.0, kNaN}, range_error + "EmptyRange", 0},
      {UniformFloat{kInf, kInf}, range_error + "EmptyRange", 0},
      {UniformFloat{-1e308, 1e308}, range_error + "NonFinite", 0},
      {UniformFloat{-kMaxF64, kMaxF64}, range_error + "NonFinite", 0},
      {UniformFloat{-kInf, 0.0}, range_error + "NonFinite", 0},
      {UniformFloat{0.0, kInf}, range_error + "NonFinite", 0},
      {Normal{0.0, kInf, {}, {}}, range_error + "BadVariance", 0},
      {Normal{0.0, -kInf, {}, {}}, range_error + "BadVariance", 0},
      {Normal{0.0, kNaN, {}, {}}, range_error + "BadVariance", 0},
      // The largest draw makes the weighted pick land on the last weight, which has no value.
      {make_choice({number(1), number(2)}, {1, 1, 1}),
       "index out of bounds: the len is 2 but the index is 2", 1},
      {make_choice({number(1)}, {0, 1}), "index out of bounds: the len is 1 but the index is 1", 1},
  };
  for (const Case& c : cases) {
    const AttrSpec spec{"x", c.kind};
    Xoshiro256PlusPlus rng = rng_drawing_first(kMaxU64);
    const Xoshiro256PlusPlus before = rng;
    EXPECT_EQ(panic_message([&] { sample_attribute(spec, rng); }), c.message);
    EXPECT_EQ(steps_between(before, rng), c.steps) << c.message;
  }
}

}  // namespace
}  // namespace tessary
