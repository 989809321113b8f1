#include "output/shortest_decimal.h"

#include <limits>

#include "output/number_tables.h"

namespace tessary {
namespace {

using namespace shortest_decimal_detail;

constexpr int SUBNORMAL_EXPONENT = MIN_BINARY_EXPONENT;

// floor(e × log10 2 + log10 3/4), for the narrower interval of a power of two. Exact for e in
// [-1334, 3421], as tools/make_number_tables.py checks; used for the powers of two above the
// smallest normal.
constexpr int FLOOR_LOG10_THREE_QUARTERS_POW2_MIN = -1334;
constexpr int FLOOR_LOG10_THREE_QUARTERS_POW2_MAX = 3421;
constexpr int floor_log10_three_quarters_pow2(int e) {
  return (e * 315653 - 131072) >> 20;
}
static_assert(FLOOR_LOG10_THREE_QUARTERS_POW2_MIN <= MIN_BINARY_EXPONENT + 1 &&
              MAX_BINARY_EXPONENT <= FLOOR_LOG10_THREE_QUARTERS_POW2_MAX);
static_assert(-floor_log10_three_quarters_pow2(MAX_BINARY_EXPONENT) >= number_tables::POW10_MIN &&
              -floor_log10_three_quarters_pow2(MIN_BINARY_EXPONENT + 1) <= number_tables::POW10_MAX);

// floor(m × log2 10). Exact where m × 1741647 fits an int, |m| <= 1233 (the formula itself holds
// further, as tools/make_number_tables.py checks); used for the m = -k of the powers of two.
constexpr int FLOOR_LOG2_POW10_LIMIT = 1233;
constexpr int floor_log2_pow10(int m) {
  return (m * 1741647) >> 19;
}
static_assert(FLOOR_LOG2_POW10_LIMIT <= std::numeric_limits<int>::max() / 1741647);
static_assert(-FLOOR_LOG2_POW10_LIMIT <= number_tables::POW10_MIN &&
              number_tables::POW10_MAX <= FLOOR_LOG2_POW10_LIMIT);

// floor(g × cp / 2^128), with the lowest bit set when the exact product scaled this way is not a
// whole number ("round to odd"). Comparing the result with an even number then gives the same
// answer as comparing the exact value. g is above the exact power by less than one unit, so a
// whole number leaves less than cp < 2^64 below the cut. A fraction leaves more: for the
// significands and powers that occur here the fractional parts stay well clear of 0 and 1. That is
// the property Schubfach (R. Giulietti, "The Schubfach way to render doubles") rests on, proven in
// the paper's section on computing the scaled values by rounding to odd; the tests against the
// standard library check the results.
std::uint64_t round_to_odd(Uint128 g, std::uint64_t cp) {
  const Uint128 low = static_cast<std::uint64_t>(g) * Uint128{cp};
  const Uint128 high = static_cast<std::uint64_t>(g >> 64) * Uint128{cp} + (low >> 64);
  const std::uint64_t whole = static_cast<std::uint64_t>(high >> 64);
  const std::uint64_t fraction = static_cast<std::uint64_t>(high);
  return whole | (fraction != 0 ? 1 : 0);
}

}  // namespace

ShortestDecimal shortest_decimal_exact(std::uint64_t bits) {
  const std::uint64_t fraction = bits & FRACTION_MASK;
  const int field = static_cast<int>(bits >> 52);
  std::uint64_t c;
  int q;
  if (field != 0) {
    c = fraction | HIDDEN_BIT;
    q = field - EXPONENT_BIAS;
  } else {
    c = fraction;
    q = SUBNORMAL_EXPONENT;
  }

  // A power of two (above the smallest normal) is half as far from its lower neighbour as from its
  // upper one.
  const bool lower_closer = fraction == 0 && field > 1;
  int k;
  int shift;
  if (!lower_closer) {
    k = floor_log10_pow2(q);
    shift = number_tables::SHIFTS[field != 0 ? field : 1];
  } else {
    k = floor_log10_three_quarters_pow2(q);
    shift = q + floor_log2_pow10(-k) + 1;
  }
  const Uint128 g = pow10_significand(-k);

  // Four times the value and its interval bounds, on the grid where the value has 16 or 17 digits.
  const std::uint64_t cb = c << 2;
  const std::uint64_t cbl = cb - 2 + (lower_closer ? 1 : 0);
  const std::uint64_t cbr = cb + 2;
  const std::uint64_t vb = round_to_odd(g, cb << shift);
  const std::uint64_t vbl = round_to_odd(g, cbl << shift);
  const std::uint64_t vbr = round_to_odd(g, cbr << shift);
  // Bounds belong to the interval only for an even significand.
  const std::uint64_t odd = c & 1;
  const std::uint64_t lower = vbl + odd;
  const std::uint64_t upper = vbr - odd;

  // One digit shorter: the multiples of 10 around the value. The interval is narrower than ten grid
  // steps, so at most one of them lies in it.
  const std::uint64_t s = vb >> 2;
  const std::uint64_t sp = s / 10;
  const bool shorter_below = lower <= 40 * sp;
  const bool shorter_above = 40 * sp + 40 <= upper;
  if (shorter_below != shorter_above) return {sp + (shorter_above ? 1 : 0), k + 1};

  // Full length: the grid points below and above the value.
  const bool below_inside = lower <= 4 * s;
  const bool above_inside = 4 * s + 4 <= upper;
  if (below_inside != above_inside) return {s + (above_inside ? 1 : 0), k};
  // Both inside: the nearer one, ties to the even one.
  const std::uint64_t middle = 4 * s + 2;
  const bool round_up = vb > middle || (vb == middle && (s & 1) != 0);
  return {s + (round_up ? 1 : 0), k};
}

}  // namespace tessary
