// The standard normal draw: a 256-layer ziggurat with the tail method for the outermost layer.
#pragma once

#include "random/xoshiro.h"

namespace tessary {

// A standard normal variate. One draw picks the layer (its low 8 bits) and a signed position in it
// (its upper 52 bits); most draws end there. A position outside the layer's inner rectangle costs
// one more draw for the wedge test and, if rejected, the whole attempt starts over; a position
// outside layer 0 goes to the tail, which takes two draws per attempt and never returns to the
// layers. Uses the C library's double-precision exp and log, so a library whose results differ in
// the last bit may, very rarely, accept or reject differently. Safe on any thread.
double standard_normal(Xoshiro256PlusPlus& rng);

}  // namespace tessary
