// Integer text: the decimal digits of 64-bit integers, two digits per table load.
//
// Kept inline so that writers placing integers straight into their own storage (the JSON writer)
// pay no call for the short texts they write most. Pure; safe on any thread.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "output/number_tables.h"

namespace tessary::integer_text {

// 10^0 to 10^19.
inline constexpr std::array<std::uint64_t, 20> POW10_U64 = [] {
  std::array<std::uint64_t, 20> powers{};
  powers[0] = 1;
  for (std::size_t i = 1; i < powers.size(); ++i) powers[i] = powers[i - 1] * 10;
  return powers;
}();

// Number of decimal digits of value (1 for 0).
inline int digit_count(std::uint64_t value) {
  value |= 1;  // the same count, and 0 counts as 1
  const int bits = 64 - std::countl_zero(value);
  const int guess = (bits * 1233) >> 12;  // floor(bits × log10 2), at most 19
  return guess + 1 - (value < POW10_U64[guess] ? 1 : 0);
}

inline void put_pair(char* out, std::uint64_t pair) {
  std::memcpy(out, number_tables::DIGIT_PAIRS + 2 * pair, 2);
}

// Writes the digits of value so that they end just before `end`; returns the first digit. Four
// digits per round while at least 1000 remains (at most five rounds), then a pair, then a single
// digit; no leading zeros, and "0" for 0.
inline char* put_u64_before(std::uint64_t value, char* end) {
  char* out = end;
  const bool zero = value == 0;
  while (value >= 1000) {
    const auto four = static_cast<std::uint32_t>(value % 10000);
    value /= 10000;
    out -= 4;
    put_pair(out, four / 100);
    put_pair(out + 2, four % 100);
  }
  if (value >= 10) {
    out -= 2;
    put_pair(out, static_cast<std::uint32_t>(value) % 100);
    value = static_cast<std::uint32_t>(value) / 100;
  }
  if (value != 0 || zero) *--out = static_cast<char>('0' + value);
  return out;
}

// The two's-complement negation taken as unsigned is the magnitude, also for the minimum.
inline std::uint64_t magnitude_of(std::int64_t value) {
  return value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
}

}  // namespace tessary::integer_text
