// Double text: the layout of a double's shortest digits, as inline code for the writers that place
// doubles straight into their own storage (write_f64 and the JSON writer), so that the common path
// runs without a call. Internal to the output subsystem; use number_text.h elsewhere.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "output/integer_text.h"
#include "output/number_tables.h"
#include "output/shortest_decimal.h"

namespace tessary::double_text {

using integer_text::digit_count;
using integer_text::POW10_U64;
using number_tables::DIGIT_PAIRS;

// Digit words are stored with memcpy: on a little-endian machine their lowest byte comes first.
static_assert(std::endian::native == std::endian::little);

inline constexpr std::uint64_t ASCII_ZEROS = 0x3030303030303030;

// The four digit bytes (0 to 9) of every number below 10^4, the first digit in the lowest byte.
// Made at compile time. One load turns four digits into text, where splitting them by arithmetic
// takes about a dozen dependent operations; the doubles' text is bound by those operations, not by
// loads, and the table's 40 KB stay in cache while doubles are written in bulk.
inline constexpr std::array<std::uint32_t, 10000> FOUR_DIGITS = [] {
  std::array<std::uint32_t, 10000> table{};
  for (std::uint32_t i = 0; i < 10000; ++i) {
    table[i] = (i / 1000) | (i / 100 % 10) << 8 | (i / 10 % 10) << 16 | (i % 10) << 24;
  }
  return table;
}();

// Eight digit bytes from their upper and lower four digits, each below 10^4.
inline std::uint64_t eight_digits(std::uint32_t upper, std::uint32_t lower) {
  return FOUR_DIGITS[upper] | std::uint64_t{FOUR_DIGITS[lower]} << 32;
}

// A 17-digit value cut into its upper nine digits, then two groups of four.
struct SeventeenDigits {
  std::uint32_t above_8;    // below 10^9
  std::uint32_t digits_10;  // digits 10 to 13, below 10^4
  std::uint32_t digits_14;  // digits 14 to 17, below 10^4
};

// Requires: value < 10^17.
inline SeventeenDigits cut_seventeen(std::uint64_t value) {
  const auto above_8 = static_cast<std::uint32_t>(value / 100000000);
  // Below 10^8, so 32-bit arithmetic gives it exactly.
  const std::uint32_t last_eight = static_cast<std::uint32_t>(value) - above_8 * 100000000;
  const std::uint32_t digits_10 = last_eight / 10000;
  return {above_8, digits_10, last_eight - digits_10 * 10000};
}

// A decimal of 1 to 17 digits as text held in registers, scaled to 17 digits: the first digit, then
// digits 2 to 9 and 10 to 17 as eight bytes each (the earlier digit in the lower byte), how many
// digits remain once trailing zeros are dropped, and the decimal exponent of the first digit.
struct DigitText {
  char first;
  std::uint64_t middle;
  std::uint64_t last;
  int significant;
  int exponent;
};

// The text of value + step, where value has 17 digits (10^16 <= value < 10^17), -50 <= step <=
// 50, and value + step lies in [10^16, 10^17]. The step is added to value's last four digits once
// they are cut off, so that the rest of the work does not wait for it; when it carries out of them
// (rare), the sum is cut afresh. A step never borrows: where it is negative, value's last digits
// are not below its magnitude.
[[gnu::always_inline]] inline DigitText digit_text_17(std::uint64_t value, int step, int exponent) {
  SeventeenDigits cut = cut_seventeen(value);
  cut.digits_14 += static_cast<std::uint32_t>(step);
  if (cut.digits_14 >= 10000) [[unlikely]] {
    value += static_cast<std::uint64_t>(std::int64_t{step});
    if (value == POW10_U64[17]) {  // the digit 1 and sixteen zeros, one place further up
      value = POW10_U64[16];
      exponent += 1;
    }
    cut = cut_seventeen(value);
  }
  const std::uint32_t first = cut.above_8 / 100000000;
  const std::uint32_t digits_2 = cut.above_8 - first * 100000000;  // digits 2 to 9
  const std::uint32_t digits_2_upper = digits_2 / 10000;
  const std::uint64_t middle = eight_digits(digits_2_upper, digits_2 - digits_2_upper * 10000);
  const std::uint64_t last = eight_digits(cut.digits_10, cut.digits_14);
  // Trailing zero digits are zero bytes at the top of the words.
  const int trailing_zeros =
      std::countl_zero(last) / 8 + (last == 0 ? std::countl_zero(middle) / 8 : 0);
  return {static_cast<char>('0' + first), middle + ASCII_ZEROS, last + ASCII_ZEROS,
          17 - trailing_zeros, exponent};
}

// The digits of the fast path: the grid point, of 16 or 17 digits, is scaled to 17 and the step
// with it. Arithmetic rather than a select, which the compiler would turn into a branch: whether a
// grid point has 16 or 17 digits is close to random.
[[gnu::always_inline]] inline DigitText digit_text(GridDecimal decimal) {
  const int short_by_one = decimal.grid < POW10_U64[16] ? 1 : 0;
  const int scale = 1 + 9 * short_by_one;
  return digit_text_17(decimal.grid * static_cast<std::uint64_t>(scale), decimal.step * scale,
                       decimal.exponent + 16 - short_by_one);
}

// The digits of the full procedure, 1 to 17 of them, scaled to 17.
// Requires: decimal.digits < 10^17, as shortest_decimal_exact gives them.
inline DigitText digit_text(ShortestDecimal decimal) {
  const int count = digit_count(decimal.digits);
  return digit_text_17(decimal.digits * POW10_U64[17 - count], 0, decimal.exponent + count - 1);
}

inline void put_word(char* out, std::uint64_t word) {
  std::memcpy(out, &word, 8);
}

// The 17 digits at out (bytes 0 to 16).
inline void put_digits(const DigitText& digits, char* out) {
  out[0] = digits.first;
  put_word(out + 1, digits.middle);
  put_word(out + 9, digits.last);
}

// Decimal exponent: "e", the sign, 1 to 3 digits without leading zeros.
// Writes 5 bytes at most, as one byte and one 4-byte word. The sign and the digit count are
// computed with arithmetic rather than tests, which the compiler would turn into branches: for
// random doubles both are close to random.
inline char* put_exponent(int exponent, char* out) {
  const std::uint32_t negative = static_cast<std::uint32_t>(exponent) >> 31;
  const std::uint32_t magnitude =
      (static_cast<std::uint32_t>(exponent) ^ (0 - negative)) + negative;
  const std::uint32_t hundreds = (magnitude * 41) >> 12;  // magnitude / 100 for magnitude < 1000
  std::uint16_t pair;
  std::memcpy(&pair, DIGIT_PAIRS + 2 * (magnitude - 100 * hundreds), 2);
  // The three digits, then the leading zeros dropped by shifting them out at the low end. The top
  // bit of 9 - magnitude (and of 99 - magnitude) is set when the magnitude has a second (third)
  // digit.
  const std::uint32_t count = 1 + ((9 - magnitude) >> 31) + ((99 - magnitude) >> 31);
  const std::uint32_t digits =
      ((('0' + hundreds) | (std::uint32_t{pair} << 8)) >> (8 * (3 - count)));
  const std::uint32_t word = ('+' + 2 * negative) | (digits << 8);  // '-' is '+' + 2
  out[0] = 'e';
  std::memcpy(out + 1, &word, 4);
  return out + 2 + count;
}

// Plain decimal is used for decimal exponents in this range, exponent form outside it.
inline constexpr int PLAIN_MIN_EXPONENT = -5;
inline constexpr int PLAIN_MAX_EXPONENT = 15;

// Splicing a point into the 16 bytes of digits 2 to 17 (two words, low then high) after byte e,
// for 0 <= e <= 15: bytes before e keep their digit, byte e holds the point, later bytes take the
// digit of the byte before them. Made at compile time.
struct SpliceMasks {
  std::uint64_t keep[2];
  std::uint64_t point[2];
  std::uint64_t moved[2];
};

inline constexpr std::array<SpliceMasks, PLAIN_MAX_EXPONENT + 1> SPLICE_MASKS = [] {
  std::array<SpliceMasks, PLAIN_MAX_EXPONENT + 1> table{};
  for (int e = 0; e <= PLAIN_MAX_EXPONENT; ++e) {
    for (int byte = 0; byte < 16; ++byte) {
      const std::uint64_t all = std::uint64_t{0xFF} << (8 * (byte % 8));
      SpliceMasks& masks = table[static_cast<std::size_t>(e)];
      if (byte < e) masks.keep[byte / 8] |= all;
      if (byte == e) masks.point[byte / 8] |= (all / 0xFF) * '.';
      if (byte > e) masks.moved[byte / 8] |= all;
    }
  }
  return table;
}();

// Lays out the digits after the sign. Every layout is written with whole-word stores straight
// from registers (reading back bytes just stored in pieces would stall) and stays within
// F64_TEXT_CAPACITY bytes.
[[gnu::always_inline]] inline char* put_decimal(const DigitText& digits, char* out) {
  const int n = digits.significant;
  const int e = digits.exponent;
  if (e < PLAIN_MIN_EXPONENT || e > PLAIN_MAX_EXPONENT) {
    out[0] = digits.first;
    out[1] = '.';
    put_word(out + 2, digits.middle);
    put_word(out + 10, digits.last);
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
  // 0 <= e < n - 1 <= 16: the point goes after digit e + 1. Bytes 1 to 16 of the text are digits 2
  // to 17 with the point spliced in, blended from the digit words by the masks for e; the 17th
  // digit follows.
  const SpliceMasks& masks = SPLICE_MASKS[e];
  const std::uint64_t low =
      (digits.middle & masks.keep[0]) | masks.point[0] | ((digits.middle << 8) & masks.moved[0]);
  const std::uint64_t high = (digits.last & masks.keep[1]) | masks.point[1] |
                             (((digits.last << 8) | (digits.middle >> 56)) & masks.moved[1]);
  out[0] = digits.first;
  put_word(out + 1, low);
  put_word(out + 9, high);
  out[17] = static_cast<char>(digits.last >> 56);
  return out + n + 1;
}

// The rare doubles whose digits the fast path leaves to the full procedure. Out of line (in
// number_text.cpp) so that the common path holds nothing across a call.
char* put_decimal_exact(std::uint64_t magnitude_bits, char* out);

// Requires: value is finite and F64_TEXT_CAPACITY bytes at out. Returns the end of the text.
[[gnu::always_inline]] inline char* put_f64(double value, char* out) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  const std::uint64_t magnitude_bits = bits & ~(std::uint64_t{1} << 63);
  *out = '-';
  out += bits >> 63;
  if (magnitude_bits == 0) {
    std::memcpy(out, "0.0", 3);
    return out + 3;
  }
  GridDecimal decimal;
  if (!shortest_decimal_fast(magnitude_bits, decimal))
    return put_decimal_exact(magnitude_bits, out);
  return put_decimal(digit_text(decimal), out);
}

}  // namespace tessary::double_text
