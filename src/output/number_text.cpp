#include "output/number_text.h"

#include <bit>
#include <cstring>

#include "output/number_tables.h"
#include "output/shortest_decimal.h"
#include "output/sixteen_digits.h"

namespace tessary {
namespace {

using number_tables::DIGIT_PAIRS;

void put_pair(char* out, std::uint64_t pair) {
  std::memcpy(out, DIGIT_PAIRS + 2 * pair, 2);
}

// Writes the digits of value so that they end just before `end`; returns the first digit. Four
// digits per round while at least 1000 remains, then a pair, then a single digit.
char* put_u64_before(std::uint64_t value, char* end) {
  char* out = end;
  const bool zero = value == 0;
  while (value >= 1000) {
    const std::uint64_t four = value % 10000;
    value /= 10000;
    out -= 4;
    put_pair(out, four / 100);
    put_pair(out + 2, four % 100);
  }
  if (value >= 10) {
    out -= 2;
    put_pair(out, value % 100);
    value /= 100;
  }
  if (value != 0 || zero) *--out = static_cast<char>('0' + value);
  return out;
}

constexpr std::uint64_t POW10[20] = {1,
                                     10,
                                     100,
                                     1000,
                                     10000,
                                     100000,
                                     1000000,
                                     10000000,
                                     100000000,
                                     1000000000,
                                     10000000000,
                                     100000000000,
                                     1000000000000,
                                     10000000000000,
                                     100000000000000,
                                     1000000000000000,
                                     10000000000000000,
                                     100000000000000000,
                                     1000000000000000000,
                                     10000000000000000000u};

// Number of decimal digits of value (1 for 0).
int digit_count(std::uint64_t value) {
  value |= 1;  // the same count, and 0 counts as 1
  const int bits = 64 - std::countl_zero(value);
  const int guess = (bits * 1233) >> 12;  // floor(bits × log10 2), at most 19
  return guess + 1 - (value < POW10[guess] ? 1 : 0);
}

// The two's-complement negation taken as unsigned is the magnitude, also for the minimum.
std::uint64_t magnitude_of(std::int64_t value) {
  return value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
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

DigitText digit_text(ShortestDecimal decimal) {
  // Scale to 17 digits. The common case, 15 to 17 digits, selects without a table lookup.
  std::uint64_t value = decimal.digits;
  int exponent = decimal.exponent + 16;
  if (value >= POW10[14]) {
    const int below_16 = value < POW10[15] ? 1 : 0;
    const int below_17 = value < POW10[16] ? 1 : 0;
    value *= static_cast<std::uint64_t>(1 + 9 * below_17 + 90 * below_16);
    exponent -= below_16 + below_17;
  } else {
    const int count = digit_count(value);
    value *= POW10[17 - count];
    exponent -= 17 - count;
  }
  // Split 1 + 8 + 8 with two independent quotients.
  const std::uint64_t first = value / POW10[16];
  const std::uint64_t first_nine = value / POW10[8];
  const SixteenDigits rest =
      sixteen_digits(first_nine - first * POW10[8], value - first_nine * POW10[8]);
  return {static_cast<char>('0' + first), rest.high_text, rest.low_text, 17 - rest.trailing_zeros,
          exponent};
}

void put_word(char* out, std::uint64_t word) {
  std::memcpy(out, &word, 8);
}

// The 17 digits at out (bytes 0 to 16).
void put_digits(const DigitText& digits, char* out) {
  out[0] = digits.first;
  put_word(out + 1, digits.middle);
  put_word(out + 9, digits.last);
}

// Decimal exponent: "e", the sign, 1 to 3 digits without leading zeros.
// Writes 5 bytes at most, as one byte and one 4-byte word, without branches (the number of
// exponent digits of random doubles is close to random).
char* put_exponent(int exponent, char* out) {
  const std::uint32_t magnitude = static_cast<std::uint32_t>(exponent < 0 ? -exponent : exponent);
  const std::uint32_t hundreds = (magnitude * 41) >> 12;  // magnitude / 100 for magnitude < 1000
  std::uint16_t pair;
  std::memcpy(&pair, DIGIT_PAIRS + 2 * (magnitude - 100 * hundreds), 2);
  // The three digits, then the leading zeros dropped by shifting them out at the low end.
  const int count = 1 + (magnitude >= 10 ? 1 : 0) + (magnitude >= 100 ? 1 : 0);
  const std::uint32_t digits =
      ((('0' + hundreds) | (std::uint32_t{pair} << 8)) >> (8 * (3 - count)));
  const std::uint32_t word = (exponent < 0 ? '-' : '+') | (digits << 8);
  out[0] = 'e';
  std::memcpy(out + 1, &word, 4);
  return out + 2 + count;
}

// Plain decimal is used for decimal exponents in this range, exponent form outside it.
constexpr int PLAIN_MIN_EXPONENT = -5;
constexpr int PLAIN_MAX_EXPONENT = 15;

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
  // to 16 with the point spliced in, built in one 128-bit word; the 17th digit follows.
  using Uint128 = unsigned __int128;
  const Uint128 tail = (Uint128{digits.last} << 64) | digits.middle;  // digits 2 to 17
  const int point = 8 * e;                                            // bit offset of the point
  const Uint128 before = (Uint128{1} << point) - 1;
  const Uint128 after = ~((before << 8) | 0xFF);
  const Uint128 spliced = (tail & before) | (Uint128{'.'} << point) | ((tail << 8) & after);
  out[0] = digits.first;
  std::memcpy(out + 1, &spliced, 16);
  out[17] = static_cast<char>(digits.last >> 56);
  return out + n + 1;
}

// The rare doubles whose digits the fast path leaves to the full procedure. Kept out of line so
// that the common path holds nothing across a call.
[[gnu::noinline]] char* put_decimal_exact(std::uint64_t magnitude_bits, char* out) {
  return put_decimal(digit_text(shortest_decimal_exact(magnitude_bits)), out);
}

[[gnu::always_inline]] inline char* put_f64(double value, char* out) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  const std::uint64_t magnitude_bits = bits & ~(std::uint64_t{1} << 63);
  *out = '-';
  out += bits >> 63;
  if (magnitude_bits == 0) {
    std::memcpy(out, "0.0", 3);
    return out + 3;
  }
  ShortestDecimal decimal;
  if (!shortest_decimal_fast(magnitude_bits, decimal))
    return put_decimal_exact(magnitude_bits, out);
  return put_decimal(digit_text(decimal), out);
}

}  // namespace

std::size_t write_u64(std::uint64_t value, char (&area)[U64_TEXT_CAPACITY]) {
  return static_cast<std::size_t>(put_u64_before(value, area + U64_TEXT_CAPACITY) - area);
}

char* write_u64_at(std::uint64_t value, char* out) {
  char* end = out + digit_count(value);
  put_u64_before(value, end);
  return end;
}

std::size_t write_i64(std::int64_t value, char (&area)[U64_TEXT_CAPACITY + 1]) {
  char* first = put_u64_before(magnitude_of(value), area + U64_TEXT_CAPACITY + 1);
  if (value < 0) *--first = '-';
  return static_cast<std::size_t>(first - area);
}

char* write_i64_at(std::int64_t value, char* out) {
  *out = '-';
  return write_u64_at(magnitude_of(value), out + (value < 0 ? 1 : 0));
}

char* write_f64_at(double value, char* out) {
  return put_f64(value, out);
}

std::size_t write_f64(double value, char (&area)[F64_TEXT_CAPACITY]) {
  return static_cast<std::size_t>(put_f64(value, area) - area);
}

}  // namespace tessary
