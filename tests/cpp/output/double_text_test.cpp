#include "output/double_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>

namespace tessary::double_text {
namespace {

// All 17 digits of a DigitText, and the significant ones.
struct Digits {
  std::string all;
  std::string significant;
};

Digits digits_of(const DigitText& text) {
  char bytes[17];
  put_digits(text, bytes);
  const std::string all(bytes, 17);
  return {all, all.substr(0, static_cast<std::size_t>(text.significant))};
}

struct GridCase {
  double value;
  int step;            // the fast path's step, checked so that each case tests what it names
  const char* digits;  // the significant digits
  int exponent;        // the decimal exponent of the first digit
};

TEST(DigitText, TheStepJoinsTheLastDigitsAndItsCarryReachesTheFirst) {
  const GridCase cases[] = {
      {0.1, 0, "1", -1},
      {3.14, -1, "314", 0},   // 31400000000000001 - 1
      {0.4, -2, "4", -1},     // 40000000000000002 - 2: a negative step never borrows
      {12.34, 1, "1234", 1},  // 12339999999999999 + 1 carries through twelve digits
      {5.1, 4, "51", 0},      // 50999999999999996 + 4
      {0.3, 2, "3", -1},      // 29999999999999998 + 2 carries up to the first digit
      {0.6, 1, "6", -1},      // a 16-digit grid point: scaled to 17 digits with its step
      {1e22, 1, "1", 22},     // 9999999999999999 + 1 has one digit more
      {9.9999999999999993e+209, 1, "1", 210},
  };
  for (const GridCase& c : cases) {
    GridDecimal decimal;
    ASSERT_TRUE(shortest_decimal_fast(std::bit_cast<std::uint64_t>(c.value), decimal)) << c.value;
    ASSERT_EQ(static_cast<std::int64_t>(decimal.digits - decimal.grid), c.step) << c.value;
    const DigitText text = digit_text(decimal);
    const Digits digits = digits_of(text);
    EXPECT_EQ(digits.significant, c.digits) << c.value;
    // The digits past the significant ones are zeros: whole numbers are laid out from them.
    EXPECT_EQ(digits.all, (c.digits + std::string(17, '0')).substr(0, 17)) << c.value;
    EXPECT_EQ(text.exponent, c.exponent) << c.value;
  }
}

TEST(DigitText, ShortDecimalsOfTheFullProcedureAreScaledTo17Digits) {
  const struct {
    ShortestDecimal decimal;
    const char* digits;
    int exponent;
  } cases[] = {
      {{5, -324}, "5", -324},
      {{12345, 0}, "12345", 4},
      {{10, 3}, "1", 4},
      {{99999999999999999, -16}, "99999999999999999", 0},
  };
  for (const auto& c : cases) {
    const DigitText text = digit_text(c.decimal);
    EXPECT_EQ(digits_of(text).significant, c.digits) << c.decimal.digits;
    EXPECT_EQ(text.exponent, c.exponent) << c.decimal.digits;
  }
}

}  // namespace
}  // namespace tessary::double_text
