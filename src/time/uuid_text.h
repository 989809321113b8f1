// UUID text: a 128-bit value as the 36 bytes of RFC 9562's hex-and-dash form,
// 8-4-4-4-12 lower-case hex digits, most significant nibble first.
//
// Kept inline for the writers' per-value paths. Each 32-bit quarter becomes eight hex digits at
// once inside one 64-bit word (its nibbles spread one per byte, then offset to '0'..'9' or
// 'a'..'f' by a carry test), with no table and no branch. Pure; safe on any thread.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tessary {

inline constexpr std::size_t UUID_TEXT_LENGTH = 36;  // "00112233-4455-6677-8899-aabbccddeeff"

namespace uuid_text {

// The eight hex digits of quarter, most significant first, as the bytes of a word in memory order.
inline std::uint64_t hex_digits(std::uint32_t quarter) {
  std::uint64_t nibbles = quarter;
  // Spread: 16 bits to each half, 8 bits to each quarter of those, 4 bits to each byte. Byte i
  // (from the least significant) then holds nibble i.
  nibbles = ((nibbles & 0xFFFF0000u) << 16) | (nibbles & 0x0000FFFFu);
  nibbles = ((nibbles & 0x0000FF000000FF00u) << 8) | (nibbles & 0x000000FF000000FFu);
  nibbles = ((nibbles & 0x00F000F000F000F0u) << 4) | (nibbles & 0x000F000F000F000Fu);
  // A nibble of 10 or more carries into bit 4 when 6 is added: it then takes 'a' - '0' - 10 = 39
  // more on top of '0'.
  const std::uint64_t letters = ((nibbles + 0x0606060606060606u) >> 4) & 0x0101010101010101u;
  std::uint64_t text = nibbles + 0x3030303030303030u + letters * 39;
  // The most significant nibble must come first in memory.
  if constexpr (std::endian::native == std::endian::little) text = __builtin_bswap64(text);
  return text;
}

inline void put_hex8(char* out, std::uint32_t quarter) {
  const std::uint64_t text = hex_digits(quarter);
  std::memcpy(out, &text, 8);
}

}  // namespace uuid_text

// Requires: out has room for UUID_TEXT_LENGTH bytes. Writes high's 16 hex digits then low's, as
// 8-4-4-4-12 with dashes; returns one past the text.
inline char* write_uuid(std::uint64_t high, std::uint64_t low, char* out) {
  char digits[16];
  uuid_text::put_hex8(out, static_cast<std::uint32_t>(high >> 32));
  uuid_text::put_hex8(digits, static_cast<std::uint32_t>(high));
  uuid_text::put_hex8(digits + 8, static_cast<std::uint32_t>(low >> 32));
  out[8] = '-';
  std::memcpy(out + 9, digits, 4);
  out[13] = '-';
  std::memcpy(out + 14, digits + 4, 4);
  out[18] = '-';
  std::memcpy(out + 19, digits + 8, 4);
  out[23] = '-';
  std::memcpy(out + 24, digits + 12, 4);
  uuid_text::put_hex8(out + 28, static_cast<std::uint32_t>(low));
  return out + UUID_TEXT_LENGTH;
}

}  // namespace tessary
