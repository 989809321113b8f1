#include "output/shortest_decimal.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "base/uint128.h"
#include "output/reference_digits.h"
#include "random/xoshiro.h"

namespace tessary {
namespace {

// The decimal as significant digits and the exponent of the first one.
std::pair<std::string, int> normalised(ShortestDecimal decimal) {
  std::string digits = std::to_string(decimal.digits);
  const int exponent = decimal.exponent + static_cast<int>(digits.size()) - 1;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  return {digits, exponent};
}

std::pair<std::string, int> reference(double value) {
  const testing::Scientific s = testing::reference_scientific(value);
  return {s.digit_string(), s.exponent};
}

std::uint64_t bits_of(double value) {
  return std::bit_cast<std::uint64_t>(value);
}

// Doubles the fast path leaves to the full procedure, and the edges of the range.
std::vector<double> special_doubles() {
  std::vector<double> values;
  for (int e = -1074; e <= 1023; ++e) values.push_back(std::ldexp(1.0, e));  // powers of two
  for (std::uint64_t t = 1; t <= 20000; ++t) values.push_back(std::bit_cast<double>(t));
  const std::uint64_t largest_subnormal = (std::uint64_t{1} << 52) - 1;
  for (std::uint64_t t = largest_subnormal - 2000; t <= largest_subnormal + 2000; ++t) {
    values.push_back(std::bit_cast<double>(t));
  }
  for (double v : {std::numeric_limits<double>::max(), 1e23, 9007199254740993.0, 0x1p50 + 0.25,
                   0x1p50 + 0.75, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308}) {
    values.push_back(v);
  }
  return values;
}

TEST(ShortestDecimalExact, MatchesTheStandardLibraryOnSpecialDoubles) {
  for (double value : special_doubles()) {
    EXPECT_EQ(normalised(shortest_decimal_exact(bits_of(value))), reference(value))
        << std::hexfloat << value;
  }
}

TEST(ShortestDecimalExact, MatchesTheStandardLibraryOnRandomDoubles) {
  // Fixed seed: the fast path decides nearly all of these in the other tests, so this pins the
  // full procedure on its own.
  Xoshiro256PlusPlus rng = seed_from_u64(20240607);
  for (int i = 0; i < 300000; ++i) {
    const double value = std::bit_cast<double>(rng.next_u64() >> 1);  // positive
    if (!std::isfinite(value) || value == 0) continue;
    ASSERT_EQ(normalised(shortest_decimal_exact(bits_of(value))), reference(value))
        << std::hexfloat << value;
  }
}

TEST(ShortestDecimal, FastPathAgreesWithTheFullProcedureWheneverItDecides) {
  Xoshiro256PlusPlus rng = seed_from_u64(7);
  int decided = 0;
  for (int i = 0; i < 300000; ++i) {
    const std::uint64_t bits = rng.next_u64() >> 1;
    if ((bits >> 52) == 0x7FF || bits == 0) continue;
    GridDecimal fast;
    if (!shortest_decimal_fast(bits, fast)) continue;
    ++decided;
    const ShortestDecimal exact = shortest_decimal_exact(bits);
    ASSERT_EQ(normalised({fast.digits, fast.exponent}), normalised(exact))
        << std::hexfloat << std::bit_cast<double>(bits);
  }
  EXPECT_GT(decided, 290000);  // declines are rare
}

TEST(ShortestDecimal, FastPathDeclinesPowersOfTwoSubnormalsAndExactTies) {
  // 2^50 + 0.25 and 2^50 + 0.75 lie exactly halfway between two 17-digit candidates.
  for (double value : {0x1p50 + 0.25, 0x1p50 + 0.75, 1.0, 0x1p-1022, 4e-320, 5e-324}) {
    GridDecimal fast;
    EXPECT_FALSE(shortest_decimal_fast(bits_of(value), fast)) << std::hexfloat << value;
    EXPECT_EQ(normalised(shortest_decimal(bits_of(value))), reference(value));
  }
}

TEST(Pow10Table, ExactPowersAreTheirNormalisedSignificands) {
  // 10^m = 5^m × 2^m, and 5^m fits in 128 bits for m <= 55: its entry is 5^m shifted so that bit
  // 127 is set, with nothing cut off.
  Uint128 five_power = 1;
  for (int m = 0; m <= 55; ++m, five_power *= 5) {
    const int high_bits =
        five_power >> 64 != 0
            ? 64 - std::countl_zero(static_cast<std::uint64_t>(five_power >> 64)) + 64
            : 64 - std::countl_zero(static_cast<std::uint64_t>(five_power));
    const Uint128 normalised_power = five_power << (128 - high_bits);
    const number_tables::Uint128Halves& entry =
        number_tables::POW10_SIGNIFICANDS[m - number_tables::POW10_MIN];
    EXPECT_EQ(entry.high, static_cast<std::uint64_t>(normalised_power >> 64)) << m;
    EXPECT_EQ(entry.low, static_cast<std::uint64_t>(normalised_power)) << m;
  }
  // 10^-1 = 0.1100 1100 ... in binary, cut after 128 bits.
  const number_tables::Uint128Halves& tenth =
      number_tables::POW10_SIGNIFICANDS[-1 - number_tables::POW10_MIN];
  EXPECT_EQ(tenth.high, 0xCCCCCCCCCCCCCCCCu);
  EXPECT_EQ(tenth.low, 0xCCCCCCCCCCCCCCCCu);
}

}  // namespace
}  // namespace tessary
