// Sixteen digits: the decimal text of two numbers below 10^8, eight digits each with leading
// zeros, converted all lanes at once without division loops.
//
// Each split of a lane (8 digits into 4 + 4, 4 into 2 + 2, 2 into 1 + 1) takes the quotient by a
// multiplication with a scaled reciprocal and puts the remainder in the upper half of the lane.
// The SSE2 form (every x86-64 processor has it) converts all sixteen digits in one 128-bit
// register; the portable form does eight at a time in a 64-bit word. Both give the same result.
// Pure; safe on any thread.
#pragma once

#include <bit>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessary {

// The text is held in two words whose lowest byte is the first in memory; stored with memcpy on a
// little-endian machine they read as the digits in order.
static_assert(std::endian::native == std::endian::little);

struct SixteenDigits {
  std::uint64_t high_text;  // the eight digits of `high`, as ASCII
  std::uint64_t low_text;   // the eight digits of `low`, as ASCII
  int trailing_zeros;       // zero digits at the end of the sixteen, 0 to 16
};

inline constexpr std::uint64_t ASCII_ZEROS = 0x3030303030303030;

// The eight digits of value < 10^8 as byte values 0 to 9, the most significant digit in the lowest
// byte. (x << bits) - quotient × ((divisor << bits) - 1) holds x - quotient × divisor in the upper
// half of a lane and the quotient in the lower half.
inline std::uint64_t eight_digit_values(std::uint64_t value) {
  // x / 10^4 == (x × 109951163) >> 40 for x < 10^8; lanes of 32 bits.
  const std::uint64_t high_four = (value * 109951163) >> 40;
  const std::uint64_t fours = (value << 32) - high_four * ((std::uint64_t{10000} << 32) - 1);
  // x / 100 == (x × 10486) >> 20 for x < 10^4; lanes of 16 bits.
  const std::uint64_t hundreds = ((fours * 10486) >> 20) & 0x0000007F0000007F;
  const std::uint64_t pairs = (fours << 16) - hundreds * ((100 << 16) - 1);
  // x / 10 == (x × 103) >> 10 for x < 100; lanes of 8 bits.
  const std::uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000F;
  return (pairs << 8) - tens * ((10 << 8) - 1);
}

// Requires: high < 10^8 and low < 10^8.
inline SixteenDigits sixteen_digits_portable(std::uint64_t high, std::uint64_t low) {
  const std::uint64_t high_values = eight_digit_values(high);
  const std::uint64_t low_values = eight_digit_values(low);
  // Trailing zero digits are zero bytes at the top of the words.
  const int trailing_zeros =
      std::countl_zero(low_values) / 8 + (low_values == 0 ? std::countl_zero(high_values) / 8 : 0);
  return {high_values + ASCII_ZEROS, low_values + ASCII_ZEROS, trailing_zeros};
}

#if defined(__SSE2__)
// Requires: high < 10^8 and low < 10^8.
inline SixteenDigits sixteen_digits_sse2(std::uint64_t high, std::uint64_t low) {
  // The multipliers 100 and 10 are hidden from the optimiser, which would otherwise replace each
  // single multiplication by a longer series of shifts and additions.
  __m128i hundred = _mm_set1_epi16(100);
  __m128i ten = _mm_set1_epi16(10);
  __asm__("" : "+x"(hundred), "+x"(ten));
  // Lanes of 64 bits: high, low.
  const __m128i eights =
      _mm_set_epi64x(static_cast<std::int64_t>(low), static_cast<std::int64_t>(high));
  // x / 10^4 == (x × 3518437209) >> 45 for x < 2^32; lanes of 32 bits, quotient first.
  const __m128i quotients = _mm_srli_epi64(_mm_mul_epu32(eights, _mm_set1_epi64x(3518437209)), 45);
  const __m128i remainders =
      _mm_sub_epi32(eights, _mm_mul_epu32(quotients, _mm_set1_epi64x(10000)));
  const __m128i fours = _mm_or_si128(quotients, _mm_slli_epi64(remainders, 32));
  // x / 100 == (x × 5243) >> 19 for x < 10^4; lanes of 16 bits.
  const __m128i hundreds = _mm_srli_epi16(_mm_mulhi_epu16(fours, _mm_set1_epi16(5243)), 3);
  const __m128i pairs = _mm_or_si128(
      hundreds, _mm_slli_epi32(_mm_sub_epi16(fours, _mm_mullo_epi16(hundreds, hundred)), 16));
  // x / 10 == (x × 6554) >> 16 for x < 100; lanes of 8 bits.
  const __m128i tens = _mm_mulhi_epu16(pairs, _mm_set1_epi16(6554));
  const __m128i values =
      _mm_or_si128(tens, _mm_slli_epi16(_mm_sub_epi16(pairs, _mm_mullo_epi16(tens, ten)), 8));
  // One bit per zero digit; the trailing zeros are the run of ones at the top of the 16 bits.
  const unsigned zeros =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(values, _mm_setzero_si128())));
  const __m128i text = _mm_add_epi8(values, _mm_set1_epi8('0'));
  return {static_cast<std::uint64_t>(_mm_cvtsi128_si64(text)),
          static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(text, text))),
          std::countl_one(static_cast<std::uint16_t>(zeros))};
}
#endif

// Requires: high < 10^8 and low < 10^8.
inline SixteenDigits sixteen_digits(std::uint64_t high, std::uint64_t low) {
#if defined(__SSE2__)
  return sixteen_digits_sse2(high, low);
#else
  return sixteen_digits_portable(high, low);
#endif
}

}  // namespace tessary
