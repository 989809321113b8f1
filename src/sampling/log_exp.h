// log(1 + x) and exp(x) - 1 and their quotients by x, accurate where x is small, from the C
// library's log and exp alone.
//
// The samplers may use only +, -, *, /, sqrt, exp and log, whose results are the same on every
// build; the C library's log1p and expm1 are not among them (their last bit differs between
// libraries). Computing log(1 + x) or exp(x) - 1 directly loses all precision as x goes to 0, so
// these functions use the classic corrections instead:
// - log(1 + x) as x * log(w) / (w - 1) with w = 1 + x rounded (Goldberg, "What every computer
//   scientist should know about floating-point arithmetic", 1991, Theorem 4): log(w) / (w - 1)
//   varies slowly, so evaluating it at the rounded w costs no precision;
// - exp(x) - 1 as (u - 1) * x / log(u) with u = exp(x) rounded (Kahan's trick, the same argument).
// Each is within a few units in the last place of the exact value. The quotients by x switch to
// their Taylor series below |x| = 1e-6, where the series to x^3 is exact to within 2e-25 relative.
// Pure functions, safe on any thread.
#pragma once

#include <cmath>

namespace tessary {

// Below this |x|, log(1 + x) / x and (exp(x) - 1) / x are taken from their Taylor series.
inline constexpr double LOG_EXP_SERIES_BOUND = 1e-6;

// log(1 + x) for x >= -1 (-infinity at -1).
inline double log_one_plus(double x) {
  const double w = 1.0 + x;
  if (w == 1.0) return x;
  return x * std::log(w) / (w - 1.0);
}

// log(1 + x) / x for x >= -1, with the limit 1 at x = 0; +infinity at -1.
inline double log_one_plus_over_x(double x) {
  if (std::fabs(x) < LOG_EXP_SERIES_BOUND) {
    return 1.0 - x * (0.5 - x * (1.0 / 3.0 - x * 0.25));
  }
  const double w = 1.0 + x;
  return std::log(w) / (w - 1.0);
}

// (exp(x) - 1) / x, with the limit 1 at x = 0; +infinity where exp overflows.
inline double exp_minus_one_over_x(double x) {
  if (std::fabs(x) < LOG_EXP_SERIES_BOUND) {
    return 1.0 + x * (0.5 + x * (1.0 / 6.0 + x * (1.0 / 24.0)));
  }
  const double u = std::exp(x);
  if (u - 1.0 == -1.0) return -1.0 / x;  // exp(x) below 2^-54: the log would be meaningless
  if (u == HUGE_VAL) return u;
  return (u - 1.0) / std::log(u);
}

}  // namespace tessary
