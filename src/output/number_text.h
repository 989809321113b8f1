// Number text: the exact decimal text of every number the system writes.
//
// write_u64, write_i64 and write_f64 write into a small scratch area that the caller supplies and
// report where the text starts (integers, written right-aligned) or ends (doubles, written from the
// start). The integers' _at forms write the same text straight into the caller's storage, from a
// given position (the JSON writer places doubles with double_text::put_f64, which write_f64 calls).
// All are pure, allocate nothing and may run on any thread at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "output/integer_text.h"

namespace tessary {

inline constexpr std::size_t U64_TEXT_CAPACITY = 20;  // "18446744073709551615"
inline constexpr std::size_t F64_TEXT_CAPACITY = 24;  // "-1.7976931348623157e+308"

// Writes the decimal digits of value right-aligned in area; returns the index of the first digit.
// The text runs from there to the end of the area.
std::size_t write_u64(std::uint64_t value, char (&area)[U64_TEXT_CAPACITY]);

// The digits of write_u64 written from out, for writers that place them straight into their own
// storage. Requires: out has room for U64_TEXT_CAPACITY bytes. Returns one past the last digit.
inline char* write_u64_at(std::uint64_t value, char* out) {
  // One and two digits, common in generated data, without counting digits first.
  if (value < 100) {
    if (value < 10) {
      *out = static_cast<char>('0' + value);
      return out + 1;
    }
    integer_text::put_pair(out, value);
    return out + 2;
  }
  char* end = out + integer_text::digit_count(value);
  integer_text::put_u64_before(value, end);
  return end;
}

// Writes "-" and the magnitude for a negative value, the digits alone otherwise, right-aligned in
// an area one byte larger than a u64's; returns the index of the first byte.
std::size_t write_i64(std::int64_t value, char (&area)[U64_TEXT_CAPACITY + 1]);

// The text of write_i64 written from out. Requires: out has room for U64_TEXT_CAPACITY + 1 bytes.
// Returns one past the last byte.
inline char* write_i64_at(std::int64_t value, char* out) {
  *out = '-';
  return write_u64_at(integer_text::magnitude_of(value), out + (value < 0 ? 1 : 0));
}

// Requires: value is finite. Writes the shortest round-trip text of value from the start of area
// and returns the index one past its last byte. Plain decimal when the decimal exponent E lies in
// [-5, 15] ("100.0", "0.00001"), exponent form otherwise ("1e+16", "1.5e-6").
std::size_t write_f64(double value, char (&area)[F64_TEXT_CAPACITY]);

// The texts of write_u64 and write_f64 as strings, for messages. Requires: value is finite.
std::string u64_string(std::uint64_t value);
std::string f64_string(double value);

}  // namespace tessary
