#include "sampling/standard_normal.h"

namespace tessary {
namespace {

using ziggurat::F;
using ziggurat::X;

// The start of the tail; layers 1..255 lie inside it.
constexpr double R = X[1];

double density(double x) {
  return std::exp(-x * x / 2.0);
}

// Marsaglia's tail method: a variate beyond R on the side given by `negative`.
double tail(bool negative, Xoshiro256PlusPlus& rng) {
  double x;
  double y;
  do {
    const double a = open01_f64(rng);
    const double b = open01_f64(rng);
    x = std::log(a) / R;
    y = std::log(b);
  } while (x * x > -2.0 * y);
  return negative ? x - R : R - x;
}

}  // namespace

double standard_normal_outside(ZigguratAttempt attempt, Xoshiro256PlusPlus& rng) {
  for (;;) {
    const std::size_t i = attempt.layer;
    if (i == 0) return tail(attempt.u < 0, rng);
    if (F[i + 1] + (F[i] - F[i + 1]) * unit_f64(rng) < density(attempt.x)) return attempt.x;
    attempt = ziggurat_attempt(rng);
    if (inside_layer(attempt)) return attempt.x;
  }
}

}  // namespace tessary
