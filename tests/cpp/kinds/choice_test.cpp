#include "kinds/choice.h"

#include <gtest/gtest.h>

#include "sampling/sample_value.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "sampling/stream_helpers.h"
#include "test_support/json_objects.h"

namespace tessary {
namespace {

using testing::steps_between;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMax = std::numeric_limits<double>::max();

// The same bits, or both NaN (whose bits the platform may choose).
bool same_double(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) ||
         (std::isnan(a) && std::isnan(b));
}

std::vector<double> scanned(const Choice& choice) {
  const std::span<const double> weights = pick_weights(choice);
  return {weights.begin(), weights.end()};
}

TEST(MakeChoice, TheTotalIsTheInOrderSumAndOnlyAnOverflowingFiniteListIsScaled) {
  struct Case {
    const char* label;
    std::vector<double> weights;
    std::vector<double> scanned;  // the weights the pick scans
    double total;
  };
  const std::vector<Case> cases = {
      {"no weights: -0.0", {}, {}, -0.0},
      {"list order decides the rounding", {1e16, 1, 1, -1e16}, {1e16, 1, 1, -1e16}, 0.0},
      {"the same weights in another order", {1, 1, 1e16, -1e16}, {1, 1, 1e16, -1e16}, 2.0},
      {"a total of exactly DBL_MAX is not scaled", {kMax / 2, kMax / 2}, {kMax / 2, kMax / 2},
       kMax},
      {"one halving suffices", {1e308, 1e308, 0}, {5e307, 5e307, 0}, 1e308},
      {"a partial sum overflows though the total would not",
       {kMax, kMax, -kMax},
       {kMax / 2, kMax / 2, -kMax / 2},
       kMax / 2},
      {"four maximal weights need two halvings",
       {kMax, kMax, kMax, kMax},
       {kMax / 4, kMax / 4, kMax / 4, kMax / 4},
       kMax},
      {"an infinite weight is kept as it is", {1e308, kInf}, {1e308, kInf}, kInf},
      {"a NaN weight is kept as it is", {1e308, 1e308, kNaN}, {1e308, 1e308, kNaN}, kNaN},
  };
  for (const Case& c : cases) {
    const Choice choice = make_choice({}, c.weights);
    EXPECT_TRUE(same_double(choice.weight_total, c.total)) << c.label;
    EXPECT_EQ(choice.weights.size(), c.weights.size()) << c.label;
    const std::vector<double> got = scanned(choice);
    ASSERT_EQ(got.size(), c.scanned.size()) << c.label;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_TRUE(same_double(got[i], c.scanned[i])) << c.label << ", weight " << i;
    }
  }
}

// --- sampling ----------------------------------------------------------------------------------

JsonValue number(std::uint64_t n) {
  return JsonNumber::from_u64(n);
}

TEST(SampleChoice, EmptyValuesGiveNullWithoutADraw) {
  for (const Choice& choice : {make_choice({}, {}), make_choice({}, {1.0, 2.0})}) {
    Xoshiro256PlusPlus rng = seed_from_u64(5);
    const Xoshiro256PlusPlus before = rng;
    EXPECT_EQ(testing::sample_value(choice, rng).kind, AttributeValue::Kind::Null);
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
    const AttributeValue v = testing::sample_value(unweighted, rng);
    ASSERT_EQ(v.kind, AttributeValue::Kind::Borrowed);
    const std::ptrdiff_t at = v.borrowed - unweighted.values.data();
    ASSERT_TRUE(at >= 0 && at < 3);  // a pointer into the attribute spec, not a copy
    picked[at] = true;

    Xoshiro256PlusPlus rng2 = seed_from_u64(seed);
    EXPECT_EQ(testing::sample_value(weighted, rng2).borrowed, &weighted.values[2]);
  }
  EXPECT_TRUE(picked[0] && picked[1] && picked[2]);
}

}  // namespace
}  // namespace tessary
