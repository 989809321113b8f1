#include "sampling/sample_value.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

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

JsonValue number(std::uint64_t n) {
  return JsonNumber::from_u64(n);
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
    EXPECT_EQ(panic_message([&] { testing::sample_attribute(spec, rng); }), c.message);
    EXPECT_EQ(steps_between(before, rng), c.steps) << c.message;
  }
}

}  // namespace
}  // namespace tessary
