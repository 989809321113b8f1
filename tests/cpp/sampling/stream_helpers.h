// Test helpers for sampler streams: generators with a chosen first draw, step counting, and
// catching a panic's message.
#pragma once

#include <bit>
#include <cstdint>
#include <string>

#include "random/xoshiro.h"
#include "base/panic.h"

namespace tessary::testing {

// A generator whose next draw is exactly x (the draws after it are whatever the state gives).
// With s0 = 0 a step returns rotl(s3, 23), so s3 = rotr(x, 23). Beware x = 0: that is the all-zero
// state, which draws 0 forever and never changes, so steps cannot be counted on it.
inline Xoshiro256PlusPlus rng_drawing_first(std::uint64_t x) {
  return {0, 0, 0, std::rotr(x, 23)};
}

inline bool same_state(const Xoshiro256PlusPlus& a, const Xoshiro256PlusPlus& b) {
  return a.s0 == b.s0 && a.s1 == b.s1 && a.s2 == b.s2 && a.s3 == b.s3;
}

// How many steps lead from `before` to `after`; -1 if not within `limit`.
inline int steps_between(Xoshiro256PlusPlus before, const Xoshiro256PlusPlus& after,
                         int limit = 1000) {
  for (int steps = 0; steps <= limit; ++steps) {
    if (same_state(before, after)) return steps;
    before.next_u64();
  }
  return -1;
}

// The message of the panic that f raises, or "<no panic>".
template <class F>
std::string panic_message(F&& f) {
  try {
    f();
  } catch (const Panic& panic) {
    return panic.message();
  }
  return "<no panic>";
}

}  // namespace tessary::testing
