// The `decimals` member of the kinds that make doubles: a value rounded to a number of decimal
// places.
//
// Rounding is plain IEEE double arithmetic: x * 10^d rounded to the nearest integer, ties to even
// (nearbyint in the default rounding mode), then divided by 10^d. It is therefore not a decimal
// rounding of the exact value: 4.35 with 1 decimal is 4.35000000000000008882 * 10 = 43.5 exactly,
// a tie, and gives 4.4. A value whose scaled magnitude reaches 2^53 already is an integer at that
// scale (or not finite) and is left as it is. -0.0 comes out as 0.0.
//
// Thread-safe; no allocation.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "specs/buffered_value.h"
#include "specs/take_field.h"

namespace tessary {

// The most decimals a spec may ask for: 10^15 < 2^53 is exact as a double, so every scale is.
inline constexpr std::int64_t MAX_DECIMALS = 15;

// The scale 10^decimals of an attribute, or 0 when it rounds nothing.
struct DecimalScale {
  double scale = 0;
};

// Reads `decimals`: an integer from 0 to MAX_DECIMALS.
[[nodiscard]] inline Problem take_decimals(const BufferedValue& value, DecimalScale& out) {
  std::int64_t decimals = 0;
  if (Problem problem = take_i64(value, decimals)) return problem;
  if (decimals < 0 || decimals > MAX_DECIMALS) {
    return parameter_problem("`decimals` must be an integer from 0 to 15, not " +
                             std::to_string(decimals));
  }
  double scale = 1;
  for (std::int64_t d = 0; d < decimals; ++d) scale *= 10;  // exact: every power is below 2^53
  out.scale = scale;
  return std::nullopt;
}

// `value` rounded as the header says; unchanged when `rounding.scale` is 0.
[[gnu::always_inline]] inline double round_decimals(double value, DecimalScale rounding) {
  if (rounding.scale == 0) return value;
  const double scaled = value * rounding.scale;
  if (!(std::fabs(scaled) < 0x1p53)) return value;  // NaN and infinities too
  // + 0.0 turns a -0.0 quotient into 0.0 under round-to-nearest.
  return std::nearbyint(scaled) / rounding.scale + 0.0;
}

}  // namespace tessary
