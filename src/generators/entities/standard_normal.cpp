#include "generators/entities/standard_normal.h"

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "generators/entities/ziggurat_tables.h"

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
[[gnu::noinline]] double tail(bool negative, Xoshiro256PlusPlus& rng) {
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

double standard_normal(Xoshiro256PlusPlus& rng) {
  for (;;) {
    const std::uint64_t bits = rng.next_u64();
    const std::size_t i = bits & 0xFF;
    // [2, 4) from the upper 52 bits, shifted to [-1, 1).
    const double u = std::bit_cast<double>((bits >> 12) | 0x4000000000000000) - 3.0;
    const double x = u * X[i];
    if (std::fabs(x) < X[i + 1]) [[likely]] {
      return x;
    }
    if (i == 0) return tail(u < 0, rng);
    if (F[i + 1] + (F[i] - F[i + 1]) * unit_f64(rng) < density(x)) return x;
  }
}

}  // namespace tessary
