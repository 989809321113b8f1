// A keyed permutation of 0..last: a Feistel network over the bit width of `last`, with cycle
// walking (J. Black and P. Rogaway, "Ciphers with arbitrary finite domains", CT-RSA 2002, section
// 4) to bring values of the wider power-of-two domain back into 0..last.
//
// The width w = bit_width(last) is split into a low half of floor(w/2) bits and a high half of
// ceil(w/2) bits; each round XORs into one half a 64-bit mix of the other half and its round key,
// cut to the half's width, so every round is a bijection whatever the widths. Halves of unequal
// width when w is odd let the network cover exactly 2^w values, fewer than 2 (last + 1), hence
// fewer than 2 passes expected. Four rounds, the least with which a Feistel network of
// pseudo-random round functions is a strong pseudo-random permutation (M. Luby and C. Rackoff,
// 1988). The round keys are SplitMix64 outputs
// of the key, the round function the SplitMix64 finaliser (two multiplies, three xor-shifts) of
// half XOR round key.
//
// Stability: the values depend on (last, key) alone and are part of the output contract. Takes no
// generator steps. Pure functions; safe on any thread.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <type_traits>
#include <vector>

#include "random/xoshiro.h"

namespace tessary {

struct KeyedPermutation {
  std::uint64_t last;                       // the domain is 0..last
  std::array<std::uint64_t, 4> round_keys;
  std::uint64_t low_mask;                   // the low half's bits
  std::uint64_t high_mask;                  // the high half's bits, shifted down
  std::uint32_t low_bits;                   // floor(w / 2)
};

// Kept in a fixed-size slot by the attribute kinds that draw it.
static_assert(std::is_trivially_copyable_v<KeyedPermutation> && sizeof(KeyedPermutation) <= 64 &&
              alignof(KeyedPermutation) <= 8);

// The permutation of 0..last (a domain of last + 1 values, 1 to 2^64) keyed by `key`. Any last and
// key are valid.
inline KeyedPermutation make_keyed_permutation(std::uint64_t last, std::uint64_t key) {
  const auto width = static_cast<std::uint32_t>(std::bit_width(last));
  const std::uint32_t low_bits = width / 2;
  const std::uint32_t high_bits = width - low_bits;
  KeyedPermutation permutation{};
  permutation.last = last;
  for (std::uint64_t i = 0; i < 4; ++i) permutation.round_keys[i] = splitmix64(key, i + 1);
  permutation.low_mask = (std::uint64_t{1} << low_bits) - 1;
  permutation.high_mask = (std::uint64_t{1} << high_bits) - 1;
  permutation.low_bits = low_bits;
  return permutation;
}

namespace keyed_permutation_detail {

// The SplitMix64 finaliser of half ^ round_key.
inline std::uint64_t round_function(std::uint64_t half, std::uint64_t round_key) {
  std::uint64_t z = half ^ round_key;
  z = (z ^ (z >> 30)) * MIX_MUL_1;
  z = (z ^ (z >> 27)) * MIX_MUL_2;
  return z ^ (z >> 31);
}

}  // namespace keyed_permutation_detail

// The round functions of a network tabulated for every value of the half each reads, cut to the
// width of the half it changes: a lookup in a table that stays in the first-level cache takes a
// few cycles where the round function's multiplies take some 15, one after another. For tables
// made once and used for many values (a parent table's keys that references rebuild).
//
// Round r reads the high half (r even) or the low half (r odd): the entries of the four rounds
// follow one another, 2^high_bits, 2^low_bits, 2^high_bits and 2^low_bits of them.
using TabulatedRounds = std::vector<std::uint16_t>;

// Networks whose halves have at most this many bits are tabulated: 2^12 entries of 2 bytes a
// round, 32 KB at most.
inline constexpr std::uint32_t TABULATED_HALF_BITS = 12;

// The tables of `permutation`, or none when its halves are wider than TABULATED_HALF_BITS.
inline std::optional<TabulatedRounds> tabulate_rounds(const KeyedPermutation& permutation) {
  using keyed_permutation_detail::round_function;
  const auto high_bits = static_cast<std::uint32_t>(std::bit_width(permutation.high_mask));
  if (high_bits > TABULATED_HALF_BITS) return std::nullopt;  // the high half is the wider
  const std::uint64_t reads[4] = {permutation.high_mask, permutation.low_mask,
                                  permutation.high_mask, permutation.low_mask};
  const std::uint64_t writes[4] = {permutation.low_mask, permutation.high_mask,
                                   permutation.low_mask, permutation.high_mask};
  TabulatedRounds rounds;
  for (std::size_t r = 0; r < 4; ++r) {
    for (std::uint64_t half = 0; half <= reads[r]; ++half) {
      rounds.push_back(static_cast<std::uint16_t>(
          round_function(half, permutation.round_keys[r]) & writes[r]));
    }
  }
  return rounds;
}

// The image of `index` in 0..last. Requires index <= last. Passes through the network until the
// value is <= last: fewer than 2 passes on average, and exactly 1 when last + 1 is a power of 2.
inline std::uint64_t permute(const KeyedPermutation& permutation, std::uint64_t index) {
  using keyed_permutation_detail::round_function;
  const std::array<std::uint64_t, 4>& keys = permutation.round_keys;
  std::uint64_t value = index;
  do {
    std::uint64_t high = value >> permutation.low_bits;
    std::uint64_t low = value & permutation.low_mask;
    low ^= round_function(high, keys[0]) & permutation.low_mask;
    high ^= round_function(low, keys[1]) & permutation.high_mask;
    low ^= round_function(high, keys[2]) & permutation.low_mask;
    high ^= round_function(low, keys[3]) & permutation.high_mask;
    value = (high << permutation.low_bits) | low;
  } while (value > permutation.last);
  return value;
}

// Domains of at most this many values are tabulated whole, as the image of every index (4 bytes
// a value, 1 MB at most): one lookup, where the network takes 1 / fill passes on average (the
// fill being the domain's share of the network's 2^w values, as low as one half), and whether
// another pass follows is a guess that fails as often as a value walks.
inline constexpr std::uint64_t TABULATED_DOMAIN = std::uint64_t{1} << 18;

// The images of 0..last, or none when the domain is wider than TABULATED_DOMAIN. For tables made
// once and used for many values (a parent table's keys that references rebuild).
inline std::optional<std::vector<std::uint32_t>> tabulate_images(
    const KeyedPermutation& permutation) {
  if (permutation.last >= TABULATED_DOMAIN) return std::nullopt;
  std::vector<std::uint32_t> images(permutation.last + 1);
  for (std::uint64_t index = 0; index <= permutation.last; ++index) {
    images[index] = static_cast<std::uint32_t>(permute(permutation, index));
  }
  return images;
}

// permute by the tables of the same permutation (tabulate_rounds(permutation)->data()): the same
// image.
inline std::uint64_t permute(const KeyedPermutation& permutation, const std::uint16_t* rounds,
                             std::uint64_t index) {
  const std::uint16_t* round_0 = rounds;
  const std::uint16_t* round_1 = round_0 + permutation.high_mask + 1;
  const std::uint16_t* round_2 = round_1 + permutation.low_mask + 1;
  const std::uint16_t* round_3 = round_2 + permutation.high_mask + 1;
  std::uint64_t value = index;
  do {
    std::uint64_t high = value >> permutation.low_bits;
    std::uint64_t low = value & permutation.low_mask;
    low ^= round_0[high];
    high ^= round_1[low];
    low ^= round_2[high];
    high ^= round_3[low];
    value = (high << permutation.low_bits) | low;
  } while (value > permutation.last);
  return value;
}

}  // namespace tessary
