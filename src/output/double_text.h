// Double text: the layout of a double's shortest digits, as inline code for the writers that place
// doubles straight into their own storage (write_f64 and the JSON writer), so that the common path
// runs without a call. Internal to the output subsystem; use number_text.h elsewhere.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/assert.h"
#include "base/uint128.h"
#include "output/integer_text.h"
#include "output/number_tables.h"
#include "output/shortest_decimal.h"

namespace tessary::double_text {

using integer_text::digit_count;
using integer_text::POW10_U64;

// Digit words are stored with memcpy: on a little-endian machine their lowest byte comes first.
static_assert(std::endian::native == std::endian::little);

inline constexpr std::uint64_t ASCII_ZEROS = 0x3030303030303030;

// Sixteen bytes as two 64-bit lanes, bytes 0 to 7 in lane 0: GCC and Clang vector arithmetic, which
// they compile to one vector register where the processor has them (SSE2, NEON) and to two words
// elsewhere.
using Bytes16 = std::uint64_t __attribute__((vector_size(16)));

// The digit characters of two numbers below 10^8, eight each, the first digit in the lowest byte,
// and how many of the sixteen digits remain once the zeros at the end are dropped (0 to 16).
struct SixteenDigits {
  Bytes16 text;
  int significant;
};

// The divisions by constants that sixteen_digits relies on, each exact over the range stated and
// checked here at compile time (the ranges cover every argument: halves of four digits are below
// 10^4, numbers of eight digits below 10^8 < 2^32).
// - x / 10^4 == (x × DIV_10000) >> 45 for x < 2^32: DIV_10000 exceeds 2^45 / 10^4 by less than
//   2^13 / 10^4, and x times that excess stays below 1.
inline constexpr std::uint64_t DIV_10000 = 0xD1B71759;  // ceil(2^45 / 10^4)
static_assert((Uint128{DIV_10000} * 10000 - (Uint128{1} << 45)) << 32 < (Uint128{1} << 45));
// - In a 16-bit lane holding 4x, x < 10^4, two high multiplications (the product's upper 16 bits),
//   by LANE_DIVISORS[j] and then by LANE_SHIFTS[j], leave x / 10^(3 - j), for j = 0 to 3.
inline constexpr std::uint32_t LANE_DIVISORS[4] = {8389, 5243, 13108, 32768};
inline constexpr std::uint32_t LANE_SHIFTS[4] = {1 << 7, 1 << 11, 1 << 13, 1 << 15};
// - Without SSE2: x / 100 == (x × 10486) >> 20 for x < 10^4, x / 10 == (x × 103) >> 10 for x < 100.
constexpr bool digit_divisions_exact() {
  for (std::uint32_t x = 0; x < 10000; ++x) {
    for (std::uint32_t j = 0, power = 1000; j < 4; ++j, power /= 10) {
      const std::uint32_t high = (4 * x * LANE_DIVISORS[j]) >> 16;
      if (((high * LANE_SHIFTS[j]) >> 16) != x / power) return false;
    }
    if (((x * 10486) >> 20) != x / 100) return false;
    if (x < 100 && ((x * 103) >> 10) != x / 10) return false;
  }
  return true;
}
static_assert(digit_divisions_exact());

#if defined(__SSE2__)
// On the vector units (every x86-64 processor has SSE2), which leaves the integer multiplier to the
// shortest-digit search of the next doubles, both numbers at once, after W. Mula's method: each
// number is split into two halves of four digits x; each x, times 4, fills four 16-bit lanes,
// where a high multiplication by about 2^14 / 10^3, 2^14 / 10^2, 2^14 / 10, 2^14 and then by a power
// of two leaves x / 10^3, x / 10^2, x / 10 and x (floored; exact for x < 10^4); less ten times the
// lane before, these are the four digits.
inline SixteenDigits sixteen_digits(std::uint32_t upper, std::uint32_t lower) {
  TESSARY_ASSERT(upper < 100000000 && lower < 100000000);
  const __m128i both = _mm_set_epi64x(lower, upper);
  const __m128i high =
      _mm_srli_epi64(_mm_mul_epu32(both, _mm_set1_epi32(static_cast<int>(DIV_10000))), 45);
  const __m128i low = _mm_sub_epi32(both, _mm_mul_epu32(high, _mm_set1_epi32(10000)));
  // 16-bit lanes: 4 × (upper's high half, its low half, 0, 0, lower's high half, its low half, 0, 0).
  const __m128i halves = _mm_slli_epi64(_mm_or_si128(high, _mm_slli_epi64(low, 16)), 2);
  const __m128i upper_pairs = _mm_unpacklo_epi16(halves, halves);
  const __m128i lower_pairs = _mm_unpackhi_epi16(halves, halves);
  const auto lanes = [](const std::uint32_t (&four)[4]) {
    const auto lane = [&](int j) { return static_cast<short>(four[j]); };
    return _mm_set_epi16(lane(3), lane(2), lane(1), lane(0), lane(3), lane(2), lane(1), lane(0));
  };
  const __m128i divisors = lanes(LANE_DIVISORS);
  const __m128i shifts = lanes(LANE_SHIFTS);
  // Hidden from the compiler, which would otherwise multiply by 10 with two shifts and an addition:
  // three instructions where the multiplication is one.
  __m128i tens = _mm_set1_epi16(10);
  __asm__("" : "+x"(tens));
  const auto digits = [&](__m128i pairs) {
    const __m128i fours = _mm_unpacklo_epi32(pairs, pairs);
    const __m128i prefixes = _mm_mulhi_epu16(_mm_mulhi_epu16(fours, divisors), shifts);
    return _mm_sub_epi16(prefixes, _mm_slli_epi64(_mm_mullo_epi16(prefixes, tens), 16));
  };
  const __m128i bytes = _mm_packus_epi16(digits(upper_pairs), digits(lower_pairs));
  // Bit i is set where digit i is not zero.
  const auto nonzero = static_cast<std::uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())) ^ 0xFFFF);
  // With one bit more below the sixteen, the word is never zero and the index of its highest set
  // bit is the count: one bit scan, without a test for zero.
  return {std::bit_cast<Bytes16>(_mm_or_si128(bytes, _mm_set1_epi8('0'))),
          __builtin_clz(nonzero << 1 | 1) ^ 31};
}
#else
// The eight digit bytes of a number below 10^8 by arithmetic on lanes of one word: it is split
// into two halves of four digits, then all lanes at once into pairs and the pairs into digits; in
// each split, (x << bits) - quotient × ((divisor << bits) - 1) leaves the quotient in the lower half
// of a lane and the remainder in the upper half.
inline std::uint64_t eight_digits(std::uint32_t value) {
  const std::uint64_t upper = value / 10000;
  const std::uint64_t fours =
      (std::uint64_t{value} << 32) - upper * ((std::uint64_t{10000} << 32) - 1);
  // x / 100 == (x × 10486) >> 20 for x < 10^4; lanes of 16 bits.
  const std::uint64_t hundreds = ((fours * 10486) >> 20) & 0x0000007F0000007F;
  const std::uint64_t pairs = (fours << 16) - hundreds * ((100 << 16) - 1);
  // x / 10 == (x × 103) >> 10 for x < 100; lanes of 8 bits.
  const std::uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000F;
  return (pairs << 8) - tens * ((10 << 8) - 1);
}

inline SixteenDigits sixteen_digits(std::uint32_t upper, std::uint32_t lower) {
  TESSARY_ASSERT(upper < 100000000 && lower < 100000000);
  const std::uint64_t upper_digits = eight_digits(upper);
  const std::uint64_t lower_digits = eight_digits(lower);
  // Trailing zero digits are zero bytes at the top of the words.
  const int trailing_zeros = std::countl_zero(lower_digits) / 8 +
                             (lower_digits == 0 ? std::countl_zero(upper_digits) / 8 : 0);
  return {Bytes16{upper_digits, lower_digits} + ASCII_ZEROS, 16 - trailing_zeros};
}
#endif

// A decimal of 1 to 17 digits as text held in registers, scaled to 17 digits: the first digit, then
// digits 2 to 17 (the earlier digit in the lower byte), how many digits remain once trailing zeros
// are dropped, and the decimal exponent of the first digit.
struct DigitText {
  char first;
  Bytes16 rest;
  int significant;
  int exponent;
};

// The text of value, where 10^16 <= value <= 10^17 (10^17 comes from rounding up 17 nines and is
// written as 10^16 one place further up).
[[gnu::always_inline]] inline DigitText digit_text_17(std::uint64_t value, int exponent) {
  TESSARY_ASSERT(POW10_U64[16] <= value && value <= POW10_U64[17]);
  if (value == POW10_U64[17]) [[unlikely]] {
    value = POW10_U64[16];
    exponent += 1;
  }
  const auto above_8 = static_cast<std::uint32_t>(value / 100000000);  // below 10^9
  // Below 10^8, so 32-bit arithmetic gives it exactly.
  const std::uint32_t last_eight = static_cast<std::uint32_t>(value) - above_8 * 100000000;
  const std::uint32_t first = above_8 / 100000000;
  const SixteenDigits digits = sixteen_digits(above_8 - first * 100000000, last_eight);
  return {static_cast<char>('0' + first), digits.text, 1 + digits.significant, exponent};
}

// The digits of the fast path: the grid point joins its step before the digits are split (adding
// the step to the split digits would carry out of them for about half of the short decimals such
// as k/100, whose grid point ends in nines), and the digits, 16 or 17 of them as the grid point's,
// are scaled to 17. Arithmetic rather than a select, which the compiler would turn into a branch:
// whether a grid point has 16 or 17 digits is close to random.
// Requires: decimal as shortest_decimal_fast gives it (grid in [10^15, 10^17), digits within -4
// to +5 of it).
[[gnu::always_inline]] inline DigitText digit_text(GridDecimal decimal) {
  TESSARY_ASSERT(POW10_U64[15] <= decimal.grid && decimal.grid < POW10_U64[17]);
  TESSARY_ASSERT(decimal.digits + 4 - decimal.grid <= 9);
  // All ones for a short grid point (the difference is negative, as the grid point is below 2^63),
  // which is also the -1 the exponent of its first digit takes.
  const auto short_mask = static_cast<std::uint64_t>(
      static_cast<std::int64_t>(decimal.grid - POW10_U64[16]) >> 63);
  const std::uint64_t digits = decimal.digits;
  // digits × 10 for a short grid point: nine more times, masked in (additions, no multiplier).
  const std::uint64_t scaled = digits + (digits * 9 & short_mask);
  return digit_text_17(scaled, decimal.exponent + 16 + static_cast<int>(short_mask));
}

// The digits of the full procedure, 1 to 17 of them, scaled to 17.
// Requires: decimal.digits < 10^17, as shortest_decimal_exact gives them.
inline DigitText digit_text(ShortestDecimal decimal) {
  const int count = digit_count(decimal.digits);
  return digit_text_17(decimal.digits * POW10_U64[17 - count], decimal.exponent + count - 1);
}

inline void put_bytes(char* out, Bytes16 bytes) {
  std::memcpy(out, &bytes, 16);
}

// The 17 digits at out (bytes 0 to 16).
inline void put_digits(const DigitText& digits, char* out) {
  out[0] = digits.first;
  put_bytes(out + 1, digits.rest);
}

// The decimal exponents of the first digit of a finite double: 5e-324 has the smallest,
// 1.7976931348623157e+308 the largest.
inline constexpr int MIN_DECIMAL_EXPONENT = -324;
inline constexpr int MAX_DECIMAL_EXPONENT = 308;

// Entry e - MIN_DECIMAL_EXPONENT: the text of the exponent e after the "e", its sign and then its
// 1 to 3 digits without leading zeros, the sign in the lowest byte and zero bytes past the text.
// Made at compile time; 2.5 KB. Hidden, as are this file's other tables, for the reason
// number_tables.h gives.
[[gnu::visibility("hidden")]] inline constexpr std::array<
    std::uint32_t, MAX_DECIMAL_EXPONENT - MIN_DECIMAL_EXPONENT + 1>
    EXPONENT_TEXTS = [] {
  std::array<std::uint32_t, MAX_DECIMAL_EXPONENT - MIN_DECIMAL_EXPONENT + 1> table{};
  for (int e = MIN_DECIMAL_EXPONENT; e <= MAX_DECIMAL_EXPONENT; ++e) {
    const int magnitude = e < 0 ? -e : e;
    const int count = magnitude < 10 ? 1 : magnitude < 100 ? 2 : 3;
    std::uint32_t text = e < 0 ? '-' : '+';
    for (int i = 0, rest = magnitude; i < count; ++i, rest /= 10) {
      text |= static_cast<std::uint32_t>('0' + rest % 10) << (8 * (count - i));
    }
    table[static_cast<std::size_t>(e - MIN_DECIMAL_EXPONENT)] = text;
  }
  return table;
}();

// Every entry's length, 1 + its digit count, is its highest byte that is not zero, as put_exponent
// reads it.
constexpr bool exponent_text_lengths_exact() {
  for (int e = MIN_DECIMAL_EXPONENT; e <= MAX_DECIMAL_EXPONENT; ++e) {
    const std::uint32_t text = EXPONENT_TEXTS[static_cast<std::size_t>(e - MIN_DECIMAL_EXPONENT)];
    const int magnitude = e < 0 ? -e : e;
    const int length = 1 + (magnitude < 10 ? 1 : magnitude < 100 ? 2 : 3);
    if ((static_cast<int>(std::bit_width(text)) + 7) / 8 != length) return false;
  }
  return true;
}
static_assert(exponent_text_lengths_exact());

// Decimal exponent: "e", the sign, 1 to 3 digits without leading zeros.
// Requires: MIN_DECIMAL_EXPONENT <= exponent <= MAX_DECIMAL_EXPONENT. Writes 5 bytes, as one byte
// and one 4-byte word; the text's length follows from the word's highest set bit, as its last byte
// is a digit and those past it are zero.
inline char* put_exponent(int exponent, char* out) {
  TESSARY_ASSERT(MIN_DECIMAL_EXPONENT <= exponent && exponent <= MAX_DECIMAL_EXPONENT);
  const std::uint32_t text =
      EXPONENT_TEXTS[static_cast<std::uint32_t>(exponent - MIN_DECIMAL_EXPONENT)];
  out[0] = 'e';
  std::memcpy(out + 1, &text, 4);
  const auto highest_bit = static_cast<std::uint32_t>(__builtin_clz(text) ^ 31);  // never zero
  return out + (highest_bit + 16) / 8;  // 1 + the text's bytes
}

// Plain decimal is used for decimal exponents in this range, exponent form outside it.
inline constexpr int PLAIN_MIN_EXPONENT = -5;
inline constexpr int PLAIN_MAX_EXPONENT = 15;

// Splicing a point into the 16 bytes of digits 2 to 17 after byte e, for SPLICE_MIN_EXPONENT <= e
// <= 15: bytes before e keep their digit, byte e holds the point, later bytes take the digit of the
// byte before them. Made at compile time. For a smaller e, the common one, put_decimal places the
// point with overlapping stores instead, which take fewer instructions but shift the low word of
// digits by e bytes: e must stay below 8.
inline constexpr int SPLICE_MIN_EXPONENT = 8;
static_assert(0 < SPLICE_MIN_EXPONENT && SPLICE_MIN_EXPONENT <= 8 &&
              SPLICE_MIN_EXPONENT <= PLAIN_MAX_EXPONENT);

struct SpliceMasks {
  Bytes16 keep;
  Bytes16 point;
  Bytes16 moved;
};

inline constexpr int SPLICE_MASK_COUNT = PLAIN_MAX_EXPONENT + 1 - SPLICE_MIN_EXPONENT;

[[gnu::visibility("hidden")]] inline constexpr std::array<SpliceMasks, SPLICE_MASK_COUNT>
    SPLICE_MASKS = [] {
  std::array<SpliceMasks, SPLICE_MASK_COUNT> table{};
  for (int e = SPLICE_MIN_EXPONENT; e <= PLAIN_MAX_EXPONENT; ++e) {
    std::uint64_t keep[2] = {};
    std::uint64_t point[2] = {};
    std::uint64_t moved[2] = {};
    for (int byte = 0; byte < 16; ++byte) {
      const std::uint64_t all = std::uint64_t{0xFF} << (8 * (byte % 8));
      if (byte < e) keep[byte / 8] |= all;
      if (byte == e) point[byte / 8] |= (all / 0xFF) * '.';
      if (byte > e) moved[byte / 8] |= all;
    }
    table[static_cast<std::size_t>(e - SPLICE_MIN_EXPONENT)] = {
        Bytes16{keep[0], keep[1]}, Bytes16{point[0], point[1]}, Bytes16{moved[0], moved[1]}};
  }
  return table;
}();

// The tables a double's text reads stay small beside the first-level data cache of the processors
// this runs on (32 KB and more), which the writer shares with the data it formats.
static_assert(sizeof number_tables::POW10_SIGNIFICANDS + sizeof number_tables::SHIFTS +
                  sizeof EXPONENT_TEXTS + sizeof SPLICE_MASKS <=
              16 * 1024);

inline void put_word(char* out, std::uint64_t word) {
  std::memcpy(out, &word, 8);
}

// Lays out the digits after the sign. Every layout is written with whole-word stores straight
// from registers (reading back bytes just stored in pieces would stall) and stays within
// F64_TEXT_CAPACITY bytes.
[[gnu::always_inline]] inline char* put_decimal(const DigitText& digits, char* out) {
  const int n = digits.significant;
  const int e = digits.exponent;
  if (e < PLAIN_MIN_EXPONENT || e > PLAIN_MAX_EXPONENT) {
    out[0] = digits.first;
    out[1] = '.';
    put_bytes(out + 2, digits.rest);
    return put_exponent(e, out + (n == 1 ? 1 : n + 1));
  }
  if (e < 0) {
    // "0.", then -e - 1 zeros (at most four), then the digits.
    std::memcpy(out, "0.000000", 8);
    put_digits(digits, out + 1 - e);
    return out + 1 - e + n;
  }
  if (n - 1 <= e) {
    // A whole number: its digits, zeros up to the point (the digits past n are zeros), ".0".
    put_digits(digits, out);
    std::memcpy(out + e + 1, ".0", 2);
    return out + e + 3;
  }
  // 0 <= e < n - 1 <= 16: the point goes after digit e + 1.
  out[0] = digits.first;
  const Bytes16 rest = digits.rest;
  if (e < SPLICE_MIN_EXPONENT) {
    // Overlapping stores, each over the one before: digits 2 to 17 at bytes 1 to 16, where those
    // before the point are right; digits e + 2 to 9 (the low word's bytes from e on) from byte
    // e + 2; digits 10 to 17 (the high word) at bytes 10 to 17; the point at byte e + 1. None
    // goes past byte 17.
    TESSARY_ASSERT(0 <= e && e < 8);
    put_bytes(out + 1, rest);
    put_word(out + 2 + e, rest[0] >> (8 * e));
    put_word(out + 10, rest[1]);
    out[1 + e] = '.';
    return out + n + 1;
  }
  // Bytes 1 to 16 of the text are digits 2 to 17 with the point spliced in, blended from the
  // digits and the digits one byte further up by the masks for e; the 17th digit follows.
  const SpliceMasks& masks = SPLICE_MASKS[static_cast<std::size_t>(e - SPLICE_MIN_EXPONENT)];
  // Lane 0's top byte moves into lane 1's lowest.
  const Bytes16 carried = __builtin_shufflevector(rest, Bytes16{}, 2, 0) >> 56;
  const Bytes16 moved = (rest << 8) | carried;
  put_bytes(out + 1, (rest & masks.keep) | masks.point | (moved & masks.moved));
  out[17] = static_cast<char>(rest[1] >> 56);
  return out + n + 1;
}

// The rare doubles whose digits the fast path leaves to the full procedure, and zero. Out of line
// (in number_text.cpp) so that the common path holds nothing across a call.
// Requires: value is finite; its sign is already written. The double rather than its bits, so
// that the common path keeps it in its vector register rather than in one more general one.
char* put_decimal_exact(double value, char* out);

// Requires: value is finite and F64_TEXT_CAPACITY bytes at out. Returns the end of the text.
[[gnu::always_inline]] inline char* put_f64(double value, char* out) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  const std::uint64_t magnitude_bits = bits & ~(std::uint64_t{1} << 63);
  *out = '-';
  out += bits >> 63;
  GridDecimal decimal;
  // Zero has exponent field 0, so the fast path leaves it to the out-of-line call too.
  if (!shortest_decimal_fast(magnitude_bits, decimal))
    return put_decimal_exact(value, out);
  return put_decimal(digit_text(decimal), out);
}

}  // namespace tessary::double_text
