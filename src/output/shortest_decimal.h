// Shortest decimal: the digits and decimal exponent of the shortest text that reads back as a
// double.
//
// For a positive finite double v this finds the digit integer D and the exponent K such that
// D × 10^K lies in v's rounding interval (the reals that round to v under round-to-nearest, its
// bounds included when v's significand is even), D has the fewest significant digits of all such
// decimals and, among those, D × 10^K is the nearest to v (an exact tie going to the even last
// digit). The result is unique. The procedure works on the interval directly: the significand,
// shifted left by 1 to 4 bits, is multiplied by a 128-bit significand of 10^-K from a table; no
// arbitrary precision, no allocation. Pure; safe on any thread.
#pragma once

#include <cstdint>

#include "base/assert.h"
#include "base/uint128.h"
#include "output/number_tables.h"

namespace tessary {

struct ShortestDecimal {
  std::uint64_t digits;  // 1 to 10^17; may end in zero digits, which are not significant
  int exponent;          // the value is digits × 10^exponent
};

// The fast path's result: the floor of the value on its decimal grid, and the digits, a small step
// from there. Both are kept because the grid point alone tells how many digits the grid has (16 or
// 17) before the digits are known.
struct GridDecimal {
  std::uint64_t grid;    // 10^15 to 10^17 - 1
  std::uint64_t digits;  // grid - 4 to grid + 5; may end in zero digits, which are not significant
  int exponent;          // the value is digits × 10^exponent
};

// The full procedure (Schubfach's), for every positive finite double: the value and both interval
// bounds are scaled exactly enough (rounded to odd) that every decision is exact.
// Requires: bits is the representation of a positive finite double (sign bit clear, not zero, not
// infinite, not NaN).
ShortestDecimal shortest_decimal_exact(std::uint64_t bits);

namespace shortest_decimal_detail {

inline constexpr std::uint64_t FRACTION_MASK = (std::uint64_t{1} << 52) - 1;
inline constexpr std::uint64_t HIDDEN_BIT = std::uint64_t{1} << 52;
inline constexpr int EXPONENT_BIAS = 1075;  // a normal double is significand × 2^(field - 1075)
// 10^m is a 128-bit integer for 0 <= m <= 55, so its table entry is exact; every other entry is
// rounded down and is used plus one.
inline constexpr int LAST_EXACT_POW10 = 55;
// Fast-path decisions closer to a boundary than this many units of 2^-59 go to the full procedure.
inline constexpr std::int64_t MARGIN = 8;

// The binary exponents q of the finite doubles (a double is c × 2^q); subnormals share field 1's.
inline constexpr int MIN_BINARY_EXPONENT = 1 - EXPONENT_BIAS;
inline constexpr int MAX_BINARY_EXPONENT = 2046 - EXPONENT_BIAS;

// floor(e × log10 2) as a fixed-point product; the shift floors, as C++20 defines >> of a negative
// value. Exact for |e| <= FLOOR_LOG10_POW2_LIMIT, which tools/make_number_tables.py checks
// against exact arithmetic; the product stays far inside an int there.
inline constexpr int FLOOR_LOG10_POW2_LIMIT = 2620;
constexpr int floor_log10_pow2(int e) {
  return (e * 315653) >> 20;
}
static_assert(-FLOOR_LOG10_POW2_LIMIT <= MIN_BINARY_EXPONENT &&
              MAX_BINARY_EXPONENT <= FLOOR_LOG10_POW2_LIMIT);
// Every 10^-k it gives for a double has a table entry.
static_assert(-floor_log10_pow2(MAX_BINARY_EXPONENT) >= number_tables::POW10_MIN &&
              -floor_log10_pow2(MIN_BINARY_EXPONENT) <= number_tables::POW10_MAX);

// The shifts of SHIFTS are 1 to 4 for every normal double, so that the significand shifted by 6
// fits a word (below 2^59) and the fast path's 6 - shift is a right shift of 2 to 5.
constexpr bool shifts_in_range() {
  for (int field = 1; field <= 2046; ++field) {
    if (number_tables::SHIFTS[field] < 1 || number_tables::SHIFTS[field] > 4) return false;
  }
  return true;
}
static_assert(shifts_in_range());

// The index in POW10_SIGNIFICANDS of 10^-k, k = floor_log10_pow2(field - EXPONENT_BIAS), straight
// from a normal double's exponent field: as -floor(a / 2^20) = floor((2^20 - 1 - a) / 2^20), the
// negation, the bias and the table's offset fold into one constant, so that the fast path's table
// load waits for one multiplication and one shift. Checked for every field below.
inline constexpr std::uint64_t POW10_INDEX_BASE =
    (std::uint64_t{1} << 20) * static_cast<std::uint64_t>(1 - number_tables::POW10_MIN) - 1 +
    std::uint64_t{315653} * EXPONENT_BIAS;
static_assert(POW10_INDEX_BASE > std::uint64_t{2046} * 315653);
// Requires: 1 <= field <= 2046, where the difference stays positive.
constexpr std::uint64_t pow10_index(std::uint64_t field) {
  TESSARY_ASSERT(1 <= field && field <= 2046);
  return (POW10_INDEX_BASE - field * 315653) >> 20;
}
constexpr bool pow10_index_exact() {
  for (int field = 1; field <= 2046; ++field) {
    const int k = floor_log10_pow2(field - EXPONENT_BIAS);
    if (pow10_index(static_cast<std::uint64_t>(field)) !=
        static_cast<std::uint64_t>(-k - number_tables::POW10_MIN))
      return false;
  }
  return true;
}
static_assert(pow10_index_exact());

// The significand g of 10^m, with 10^m = g × 2^(floor(log2 10^m) - 127) up to less than one unit.
inline Uint128 pow10_significand(int m) {
  const number_tables::Uint128Halves& entry =
      number_tables::POW10_SIGNIFICANDS[m - number_tables::POW10_MIN];
  const bool exact = m >= 0 && m <= LAST_EXACT_POW10;
  return ((Uint128{entry.high} << 64) | entry.low) + (exact ? 0 : 1);
}

}  // namespace shortest_decimal_detail

// Requires: as shortest_decimal_exact. The common case, a normal double whose fraction is not 0,
// takes one 64 × 128-bit multiplication: it yields the value x on the decimal grid where x has 16
// or 17 digits, with 64 fraction bits, and the interval's half-width w follows from the same table
// entry. The decisions (a multiple of 10 in [x - w, x + w]; else the integer nearest to x) are made
// on these approximations when they are clearly on one side; on or next to a boundary, and for
// powers of two and subnormals, the full procedure decides.
// Returns false, leaving `result` unspecified, where the full procedure must decide.
inline bool shortest_decimal_fast(std::uint64_t bits, GridDecimal& result) {
  using namespace shortest_decimal_detail;
  const std::uint64_t fraction = bits & FRACTION_MASK;
  const int field = static_cast<int>(bits >> 52);
  // One test for both (an int, so that it stays one branch).
  if ((field == 0) | (fraction == 0)) return false;

  const std::uint64_t index = pow10_index(static_cast<std::uint64_t>(field));
  const int k = -static_cast<int>(index) - number_tables::POW10_MIN;
  // The table entry as it stands (rounded down): x comes out low by less than 2^-70.
  const number_tables::Uint128Halves& g = number_tables::POW10_SIGNIFICANDS[index];
  // x = v × 10^-k = (c << shift) × g / 2^128, with c << shift written as (c << 6) >> (6 - shift):
  // w below shifts by 6 - shift too, and both shifts then take their count from one register.
  const int down = 6 - number_tables::SHIFTS[field];
  const std::uint64_t cp = ((fraction | HIDDEN_BIT) << 6) >> down;
  const Uint128 product =
      g.high * Uint128{cp} + static_cast<std::uint64_t>((g.low * Uint128{cp}) >> 64);
  const std::uint64_t s = static_cast<std::uint64_t>(product >> 64);  // floor(x)
  // Fractions in units of 2^-59: that of x, and w = 2^q × 10^-k / 2 = g × 2^(shift - 129), below 5;
  // both within 2 units. The top bit of the product's low word is that of f: x's fraction >= 1/2.
  const std::int64_t f = static_cast<std::int64_t>(static_cast<std::uint64_t>(product) >> 5);
  const std::int64_t w = static_cast<std::int64_t>(g.high >> down);
  constexpr std::int64_t ONE = std::int64_t{1} << 59;

  // The multiple of 10 nearest x is 10 q. The interval is narrower than 10, so it holds no other
  // one, and it holds 10 q when |x - 10 q| <= w.
  const std::uint64_t q = (s + 5) / 10;
  const std::int64_t offset = static_cast<std::int64_t>(s - 10 * q) * ONE + f;  // x - 10 q
  const std::int64_t to_ten = w - (offset < 0 ? -offset : offset);  // >= 0: 10 q lies in it
  const std::int64_t to_half = f - ONE / 2;                         // >= 0: x rounds up
  // An int rather than a bool, so that the two tests combine without a second branch.
  const auto near = [](std::int64_t distance) -> int {
    return static_cast<std::uint64_t>(distance + MARGIN) < 2 * MARGIN;
  };
  if (near(to_ten) | near(to_half)) return false;
  // Else the integer nearest to x, which lies in the interval as w >= 1/2. Both are a step from s
  // on x's grid (10 q ends in a zero digit, which is not significant). Choosing between them is a
  // select of the digits by a mask rather than a branch, as the choice is close to random for
  // random doubles and the compiler turns a conditional expression here into a branch; the
  // digits are selected whole, so that they wait for the decision by one step only.
  const std::uint64_t nearest = s + (static_cast<std::uint64_t>(product) >> 63);
  const std::uint64_t ten = 10 * q;
  // All ones when 10 q lies outside the interval.
  const auto outside = static_cast<std::uint64_t>(to_ten >> 63);
  result = {s, ten ^ ((ten ^ nearest) & outside), k};
  return true;
}

inline ShortestDecimal shortest_decimal(std::uint64_t bits) {
  GridDecimal result;
  if (!shortest_decimal_fast(bits, result)) return shortest_decimal_exact(bits);
  return {result.digits, result.exponent};
}

}  // namespace tessary
