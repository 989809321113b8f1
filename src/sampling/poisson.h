// The Poisson draw: inversion by sequential search for small means, and for larger ones the
// transformed rejection with squeeze PTRS of W. Hoermann, "The transformed rejection method for
// generating Poisson random variables", Insurance: Mathematics and Economics 12 (1993), 39-45.
//
// The number of generator steps each draw takes is part of the output contract. All functions are
// pure or act on a generator the caller owns; they are safe on any thread.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "random/xoshiro.h"

namespace tessary {

// The largest mean accepted. PTRS compares log(V) + ... with the log-density
// k log(mean) - mean - log(k!), a difference of terms near mean log(mean) (2.1e10 at 1e9), each
// rounded to within its unit in the last place (3.8e-6 at 2.1e10). The comparison's error is thus
// about 1e-5, which changes the acceptance probability of the few attempts that reach it (about one
// in ten) by a relative 1e-5: far below what any sample can detect. The error grows in proportion
// to the mean, hence the bound. Every candidate value is also far below 2^53, so exact as a double.
inline constexpr double POISSON_MAX_MEAN = 1e9;

// Means below this are drawn by inversion, the others by PTRS, whose constants Hoermann fitted for
// means of 10 and more. Inversion takes mean + 1 steps of the search on average (at most about 11).
inline constexpr double POISSON_INVERSION_BELOW = 10.0;

// The sequential search stops at this value. Rounding of the running sum of probabilities can leave
// it a little below 1 and so below a draw close to 1; without a bound such a draw would search
// forever. P(X > 64) is below 1e-30 for every mean below 10, far below the draw's resolution
// 2^-53, so the bound changes only draws that rounding alone would send past it.
inline constexpr std::int64_t POISSON_SEARCH_LIMIT = 64;

namespace poisson_detail {

// 1/k for k = 0..POISSON_SEARCH_LIMIT (0 unused), so that the search multiplies and never divides.
inline constexpr std::array<double, POISSON_SEARCH_LIMIT + 1> RECIPROCALS = [] {
  std::array<double, POISSON_SEARCH_LIMIT + 1> table{};
  for (std::size_t k = 1; k < table.size(); ++k) table[k] = 1.0 / static_cast<double>(k);
  return table;
}();

// log(k!) for k = 0..15, correctly rounded (computed to 60 digits).
inline constexpr std::array<double, 16> LOG_FACTORIALS = {
    0.0,                 0.0,                0.6931471805599453, 1.791759469228055,
    3.1780538303479458,  4.787491742782046,  6.579251212010101,  8.525161361065415,
    10.60460290274525,   12.801827480081469, 15.104412573075516, 17.502307845873887,
    19.987214495661885,  22.552163853123425, 25.19122118273868,  27.89927138384089,
};

inline constexpr double HALF_LOG_TWO_PI = 0.91893853320467274178;

// log(k!) for k >= 0: the table below 16, above it Stirling's series for log Gamma(k + 1) to the
// term in x^-7, whose truncation error (below 1 / (1188 x^9), x >= 17) is under 1e-14.
inline double log_factorial(std::int64_t k) {
  if (k < static_cast<std::int64_t>(LOG_FACTORIALS.size())) {
    return LOG_FACTORIALS[static_cast<std::size_t>(k)];
  }
  const double x = static_cast<double>(k) + 1.0;
  const double r = 1.0 / x;
  const double r2 = r * r;
  const double series =
      r * (1.0 / 12.0 - r2 * (1.0 / 360.0 - r2 * (1.0 / 1260.0 - r2 * (1.0 / 1680.0))));
  return (x - 0.5) * std::log(x) - x + HALF_LOG_TWO_PI + series;
}

}  // namespace poisson_detail

// A Poisson distribution prepared for drawing. The inversion uses mean and exp_neg_mean, PTRS the
// others (the names of Hoermann's paper).
struct PoissonDraw {
  double mean;
  double exp_neg_mean;   // P(X = 0)
  double log_mean;
  double a;
  double b;
  double log_inv_alpha;  // log(1 / alpha)
  double v_r;            // the squeeze: attempts with V <= v_r and |U| <= 0.43 are accepted
};

// Kept in a fixed-size slot by the attribute kinds that draw it.
static_assert(std::is_trivially_copyable_v<PoissonDraw> && sizeof(PoissonDraw) <= 64 &&
              alignof(PoissonDraw) <= 8);

// Requires 0 <= mean <= POISSON_MAX_MEAN. Uses the C library's exp, log and sqrt. Safe on any
// thread.
inline PoissonDraw prepare_poisson(double mean) {
  PoissonDraw poisson{};
  poisson.mean = mean;
  poisson.exp_neg_mean = std::exp(-mean);
  if (mean >= POISSON_INVERSION_BELOW) {
    poisson.log_mean = std::log(mean);
    poisson.b = 0.931 + 2.53 * std::sqrt(mean);
    poisson.a = -0.059 + 0.02483 * poisson.b;
    poisson.log_inv_alpha = std::log(1.1239 + 1.1328 / (poisson.b - 3.4));
    poisson.v_r = 0.9277 - 3.6224 / (poisson.b - 2.0);
  }
  return poisson;
}

// A Poisson value from 0 up (below 2^53).
//
// Mean below 10: the least k with u < P(X <= k), u = unit_f64 in [0, 1), searched from 0 and
// stopped at POISSON_SEARCH_LIMIT. Generator steps: exactly 1, mean 0 included (its value is
// always 0, but it takes its draw like any other mean).
//
// Mean 10 and above: PTRS. Each attempt takes U = unit_f64 - 0.5 in [-0.5, 0.5) and then V =
// positive_unit_f64 in (0, 1] (so log(V) is finite), and k = floor((2a / us + b) U + mean + 0.43)
// with us = 0.5 - |U|. The squeeze accepts most attempts without a logarithm; the others are
// accepted when log(V / alpha) - log(a / us^2 + b) <= log P(X = k). Candidates below 0 (U = -0.5
// among them) are rejected, as in the paper, and so are those of 2^53 and more, which the paper's
// test would reject too: its left side is at least log(2^-53) - log(a 2^106 + b) > -120 for every
// mean up to POISSON_MAX_MEAN, while log P(X = k) < -1e16 there. A draw takes 1.33 attempts on
// average at mean 10, 1.17 at 100 and 1.12 from 10^4 up (measured over 10^6 draws).
// Generator steps: 2 per attempt, so an even number, 2 for an accepted first attempt.
// Uses the C library's exp and log. Safe on any thread.
inline std::int64_t draw_poisson(const PoissonDraw& poisson, Xoshiro256PlusPlus& rng) {
  if (poisson.mean < POISSON_INVERSION_BELOW) {
    const double u = unit_f64(rng);
    double probability = poisson.exp_neg_mean;
    double cumulative = probability;
    std::int64_t k = 0;
    while (u >= cumulative && k < POISSON_SEARCH_LIMIT) {
      ++k;
      probability *= poisson.mean * poisson_detail::RECIPROCALS[static_cast<std::size_t>(k)];
      cumulative += probability;
    }
    return k;
  }
  for (;;) {
    const double u = unit_f64(rng) - 0.5;
    const double v = positive_unit_f64(rng);
    const double us = 0.5 - std::fabs(u);
    const double candidate = (2.0 * poisson.a / us + poisson.b) * u + poisson.mean + 0.43;
    if (!(candidate >= 0.0 && candidate < 0x1p53)) continue;
    const auto k = static_cast<std::int64_t>(candidate);  // the floor, as candidate >= 0
    if (us >= 0.07 && v <= poisson.v_r) return k;
    if (us < 0.013 && v > us) continue;
    if (std::log(v) + poisson.log_inv_alpha - std::log(poisson.a / (us * us) + poisson.b) <=
        -poisson.mean + static_cast<double>(k) * poisson.log_mean -
            poisson_detail::log_factorial(k)) {
      return k;
    }
  }
}

}  // namespace tessary
