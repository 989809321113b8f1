#include "output/number_text.h"

#include <bit>
#include <cstring>

#include "output/number_tables.h"
#include "output/shortest_decimal.h"

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

constexpr std::uint64_t POW10[18] = {1,
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
                                     100000000000000000};

// Number of decimal digits of value, for 1 <= value < 10^17.
int digit_count(std::uint64_t value) {
  const int bits = 64 - std::countl_zero(value);
  const int guess = (bits * 1233) >> 12;  // floor(bits × log10 2)
  return guess + 1 - (value < POW10[guess] ? 1 : 0);
}

// The eight decimal digits of value < 10^8 as byte values 0 to 9, the most significant digit in the
// lowest byte (the first byte in memory). Splits 8 digits into 4 + 4, each 4 into 2 + 2, each 2
// into 1 + 1, all lanes at once, with multiplications by reciprocals instead of divisions.
std::uint64_t eight_digits(std::uint64_t value) {
  // Lanes of 32 bits: the upper four digits in the low lane.
  const std::uint64_t fours = (value / 10000) | ((value % 10000) << 32);
  // x / 100 == (x × 10486) >> 20 for x < 43699; lanes of 16 bits.
  const std::uint64_t hundreds = ((fours * 10486) >> 20) & 0x0000007F0000007F;
  const std::uint64_t pairs = hundreds | ((fours - 100 * hundreds) << 16);
  // x / 10 == (x × 103) >> 10 for x < 179; lanes of 8 bits.
  const std::uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000F;
  const std::uint64_t digits = tens | ((pairs - 10 * tens) << 8);
  if constexpr (std::endian::native == std::endian::big) return __builtin_bswap64(digits);
  return digits;
}

constexpr std::uint64_t ASCII_ZEROS = 0x3030303030303030;

// The 17 digits of value (10^16 <= value < 10^17) as text at out; returns how many of them remain
// once trailing zeros are dropped.
int put_17_digits(std::uint64_t value, char* out) {
  const std::uint64_t first = value / POW10[16];
  const std::uint64_t rest = value - first * POW10[16];
  const std::uint64_t high = eight_digits(rest / POW10[8]);
  const std::uint64_t low = eight_digits(rest % POW10[8]);
  out[0] = static_cast<char>('0' + first);
  const std::uint64_t high_text = high + ASCII_ZEROS;
  const std::uint64_t low_text = low + ASCII_ZEROS;
  std::memcpy(out + 1, &high_text, 8);
  std::memcpy(out + 9, &low_text, 8);
  // Trailing zero digits are zero bytes at the top of the little-endian words.
  const int trailing_zeros =
      low != 0 ? std::countl_zero(low) / 8 : 8 + (high != 0 ? std::countl_zero(high) / 8 : 8);
  return 17 - trailing_zeros;
}

// Decimal exponent: "e", the sign, 1 to 3 digits without leading zeros.
char* put_exponent(int exponent, char* out) {
  out[0] = 'e';
  out[1] = exponent < 0 ? '-' : '+';
  out += 2;
  unsigned magnitude = static_cast<unsigned>(exponent < 0 ? -exponent : exponent);
  if (magnitude >= 100) {
    *out++ = static_cast<char>('0' + magnitude / 100);
    magnitude %= 100;
  } else if (magnitude < 10) {
    *out = static_cast<char>('0' + magnitude);
    return out + 1;
  }
  put_pair(out, magnitude);
  return out + 2;
}

// Plain decimal is used for decimal exponents in this range, exponent form outside it.
constexpr int PLAIN_MIN_EXPONENT = -5;
constexpr int PLAIN_MAX_EXPONENT = 15;

}  // namespace

std::size_t write_u64(std::uint64_t value, char (&area)[U64_TEXT_CAPACITY]) {
  return static_cast<std::size_t>(put_u64_before(value, area + U64_TEXT_CAPACITY) - area);
}

std::size_t write_i64(std::int64_t value, char (&area)[U64_TEXT_CAPACITY + 1]) {
  // The two's-complement negation taken as unsigned is the magnitude, also for the minimum.
  const std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  char* first = put_u64_before(magnitude, area + U64_TEXT_CAPACITY + 1);
  if (value < 0) *--first = '-';
  return static_cast<std::size_t>(first - area);
}

std::size_t write_f64(double value, char (&area)[F64_TEXT_CAPACITY]) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  const std::uint64_t magnitude_bits = bits & ~(std::uint64_t{1} << 63);
  // Laid out with whole-block copies in a larger area, then copied to the caller's in one piece.
  char text[40];
  char* out = text;
  *out = '-';
  out += bits >> 63;
  if (magnitude_bits == 0) {
    std::memcpy(out, "0.0", 3);
    out += 3;
  } else {
    const ShortestDecimal decimal = shortest_decimal(magnitude_bits);
    // Scale the digit integer to exactly 17 digits; E is the exponent of the first digit.
    const int count = digit_count(decimal.digits);
    const int e = decimal.exponent + count - 1;
    char digits[17];
    const int n = put_17_digits(decimal.digits * POW10[17 - count], digits);
    if (e < PLAIN_MIN_EXPONENT || e > PLAIN_MAX_EXPONENT) {
      out[0] = digits[0];
      out[1] = '.';
      std::memcpy(out + 2, digits + 1, 16);
      out = put_exponent(e, out + (n == 1 ? 1 : n + 1));
    } else if (e >= 0) {
      // Up to 16 integer digits; the digits beyond n are already zeros.
      std::memcpy(out, digits, 16);
      if (n - 1 <= e) {
        std::memcpy(out + e + 1, ".0", 2);
        out += e + 3;
      } else {
        out[e + 1] = '.';
        std::memcpy(out + e + 2, digits + e + 1, 16);
        out += n + 1;
      }
    } else {
      // "0." and -e - 1 zeros (at most four), then the digits.
      std::memcpy(out, "0.0000", 6);
      std::memcpy(out + 1 - e, digits, 17);
      out += 1 - e + n;
    }
  }
  std::memcpy(area, text, F64_TEXT_CAPACITY);
  return static_cast<std::size_t>(out - text);
}

}  // namespace tessary
