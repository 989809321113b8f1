// Shortest decimal: the digits and decimal exponent of the shortest text that reads back as a
// double.
//
// For a positive finite double v this finds the digit integer D and the exponent K such that
// D × 10^K lies in v's rounding interval (the reals that round to v under round-to-nearest, its
// bounds included when v's significand is even), D has the fewest significant digits of all such
// decimals and, among those, D × 10^K is the nearest to v (an exact tie going to the even last
// digit). The result is unique. The procedure is of the Schubfach kind: the significand, shifted
// left by 1 to 4 bits, is multiplied by a 128-bit significand of 10^-K from a table; no arbitrary
// precision, no allocation. Pure; safe on any thread.
#pragma once

#include <cstdint>

namespace tessary {

struct ShortestDecimal {
  std::uint64_t digits;  // 1 to 10^17 - 1; may end in zero digits, which are not significant
  int exponent;          // the value is digits × 10^exponent
};

// Requires: bits is the representation of a positive finite double (sign bit clear, not zero, not
// infinite, not NaN).
ShortestDecimal shortest_decimal(std::uint64_t bits);

}  // namespace tessary
