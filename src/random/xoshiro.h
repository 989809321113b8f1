// Random streams: the Xoshiro256++ generator, its SplitMix64 seeding, and the per-entity stream.
//
// Every entity draws from its own generator, derived from the call's seed and the entity's index
// alone, so the values of entity i do not depend on threads or scheduling. The streams are part of
// the output contract: changing any constant or step here changes every generated value.
// All functions are pure or act on a generator the caller owns; they are safe on any thread.
#pragma once

#include <bit>
#include <cstdint>

namespace tessary {

inline constexpr std::uint64_t PHI = 0x9E3779B97F4A7C15;        // SplitMix64 increment
inline constexpr std::uint64_t MIX_MUL_1 = 0xBF58476D1CE4E5B9;  // SplitMix64 finaliser
inline constexpr std::uint64_t MIX_MUL_2 = 0x94D049BB133111EB;
// Multiplier of Knuth's MMIX linear congruential generator; scrambles seed + index.
inline constexpr std::uint64_t INDEX_MULTIPLIER = 0x5851F42D4C957F2D;
// Words s0 and s3 of seed_from_u64(0), used when an entropy block is all zero.
inline constexpr std::uint64_t ZERO_SEED_S0 = 0xE220A8397B1DCDAF;
inline constexpr std::uint64_t ZERO_SEED_S3 = 0xF88BB8A8724C81EC;

struct Xoshiro256PlusPlus {
  std::uint64_t s0, s1, s2, s3;

  std::uint64_t next_u64() {
    const std::uint64_t result = std::rotl(s0 + s3, 23) + s0;
    const std::uint64_t t = s1 << 17;
    s2 ^= s0;
    s3 ^= s1;
    s1 ^= s2;
    s0 ^= s3;
    s2 ^= t;
    s3 = std::rotl(s3, 45);
    return result;
  }

  // The upper half of one full step; the lower half is discarded.
  std::uint32_t next_u32() { return static_cast<std::uint32_t>(next_u64() >> 32); }
};

// The k-th SplitMix64 output of v (k counted from 1).
constexpr std::uint64_t splitmix64(std::uint64_t v, std::uint64_t k) {
  std::uint64_t z = v + k * PHI;
  z = (z ^ (z >> 30)) * MIX_MUL_1;
  z = (z ^ (z >> 27)) * MIX_MUL_2;
  return z ^ (z >> 31);
}

constexpr Xoshiro256PlusPlus seed_from_u64(std::uint64_t v) {
  return {splitmix64(v, 1), splitmix64(v, 2), splitmix64(v, 3), splitmix64(v, 4)};
}

// The generator of entity `index` under `seed`. The stream depends on seed + index only.
constexpr Xoshiro256PlusPlus entity_rng(std::uint64_t seed, std::uint64_t index) {
  return seed_from_u64((seed + index) * INDEX_MULTIPLIER);
}

// Conversions of one draw to a double; each takes exactly one step.

// [0, 1) with 53 random bits.
inline double unit_f64(Xoshiro256PlusPlus& rng) {
  return static_cast<double>(rng.next_u64() >> 11) * 0x1p-53;
}

// [1, 2): the upper 52 bits of the draw as the mantissa.
inline double mantissa_f64(Xoshiro256PlusPlus& rng) {
  return std::bit_cast<double>((rng.next_u64() >> 12) | 0x3FF0000000000000);
}

// (0, 1]: the upper 53 bits of the draw plus one, times 2^-53, so from 2^-53 to 1. For logarithms
// of a draw, which must stay finite.
inline double positive_unit_f64(Xoshiro256PlusPlus& rng) {
  return static_cast<double>((rng.next_u64() >> 11) + 1) * 0x1p-53;
}

// The open interval (0, 1), from 2^-53 to 1 - 2^-53.
inline double open01_f64(Xoshiro256PlusPlus& rng) {
  return mantissa_f64(rng) + std::bit_cast<double>(std::uint64_t{0xBFEFFFFFFFFFFFFF});
}

}  // namespace tessary
