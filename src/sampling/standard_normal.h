// The standard normal draw: a 256-layer ziggurat with the tail method for the outermost layer.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "sampling/ziggurat_tables.h"
#include "random/xoshiro.h"

namespace tessary {

// One attempt of the ziggurat: a draw's low 8 bits pick the layer, its upper 52 bits a position
// u in [-1, 1), and x = u * X[layer].
struct ZigguratAttempt {
  std::size_t layer;
  double u;
  double x;
};

inline ZigguratAttempt ziggurat_attempt(Xoshiro256PlusPlus& rng) {
  const std::uint64_t bits = rng.next_u64();
  const std::size_t layer = bits & 0xFF;
  // [2, 4) from the upper 52 bits, shifted to [-1, 1).
  const double u = std::bit_cast<double>((bits >> 12) | 0x4000000000000000) - 3.0;
  return {layer, u, u * ziggurat::X[layer]};
}

// Whether the attempt lies in its layer's inner rectangle, where it is accepted without a test.
inline bool inside_layer(const ZigguratAttempt& attempt) {
  return std::fabs(attempt.x) < ziggurat::X[attempt.layer + 1];
}

// Finishes a draw whose attempt fell outside its layer's inner rectangle: the wedge test (layers
// 1..255) or the tail (layer 0), with new attempts as rejections require.
double standard_normal_outside(ZigguratAttempt attempt, Xoshiro256PlusPlus& rng);

// A standard normal variate. Most draws end with their first attempt; one outside the inner
// rectangle costs one more draw for the wedge test and, if rejected, the whole attempt starts over;
// an attempt outside layer 0 goes to the tail, which takes two draws per try and never returns to
// the layers. Uses the C library's double-precision exp and log, so a library whose results differ
// in the last bit may, very rarely, accept or reject differently. Safe on any thread.
//
// The common case is inline; the rest works on a copy of the generator, so that the caller's
// generator never has its address taken and can stay in registers.
inline double standard_normal(Xoshiro256PlusPlus& rng) {
  const ZigguratAttempt attempt = ziggurat_attempt(rng);
  if (inside_layer(attempt)) [[likely]] {
    return attempt.x;
  }
  Xoshiro256PlusPlus rest = rng;
  const double z = standard_normal_outside(attempt, rest);
  rng = rest;
  return z;
}

}  // namespace tessary
