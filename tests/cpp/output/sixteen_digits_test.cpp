#include "output/sixteen_digits.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "random/xoshiro.h"

namespace tessary {
namespace {

std::string text_of(const SixteenDigits& digits) {
  char text[16];
  std::memcpy(text, &digits.high_text, 8);
  std::memcpy(text + 8, &digits.low_text, 8);
  return std::string(text, 16);
}

void expect_digits(std::uint64_t high, std::uint64_t low) {
  char expected[17];
  std::snprintf(expected, sizeof expected, "%08llu%08llu", static_cast<unsigned long long>(high),
                static_cast<unsigned long long>(low));
  const std::string text(expected, 16);
  const int trailing_zeros = static_cast<int>(16 - 1 - text.find_last_not_of('0'));
  const std::string all_zeros(16, '0');
  const int expected_zeros = text == all_zeros ? 16 : trailing_zeros;
  const SixteenDigits portable = sixteen_digits_portable(high, low);
  EXPECT_EQ(text_of(portable), text);
  EXPECT_EQ(portable.trailing_zeros, expected_zeros) << text;
#if defined(__SSE2__)
  const SixteenDigits sse2 = sixteen_digits_sse2(high, low);
  EXPECT_EQ(text_of(sse2), text);
  EXPECT_EQ(sse2.trailing_zeros, expected_zeros) << text;
#endif
}

TEST(SixteenDigits, BothFormsWriteEveryDigitAndCountTrailingZeros) {
  const std::vector<std::uint64_t> edges = {0,        1,        9,        10,       99,
                                            100,      9999,     10000,    10001,    99999999,
                                            10000000, 12345678, 90000000, 50005000, 1000};
  for (std::uint64_t high : edges) {
    for (std::uint64_t low : edges) expect_digits(high, low);
  }
  Xoshiro256PlusPlus rng = seed_from_u64(16);
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t draw = rng.next_u64();
    // Some draws with trailing zeros, by cutting digits off the low half.
    std::uint64_t low = (draw >> 32) % 100000000;
    for (std::uint64_t cut = 1; cut < (draw & 0xFFFFFF) % 100000000 && cut < 100000000; cut *= 10) {
      low -= low % cut;
    }
    expect_digits((draw & 0xFFFFFFFF) % 100000000, low);
  }
}

}  // namespace
}  // namespace tessary
