// The shortest round-trip digits of a double as the standard library finds them, the reference
// the number text tests compare against.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>

namespace tessary::testing {

// A decimal in scientific form: digits d1 d2 ... dn (no trailing zeros) and the exponent of d1.
struct Scientific {
  char digits[20];
  int count = 0;
  int exponent = 0;
  bool negative = false;

  std::string digit_string() const { return std::string(digits, static_cast<std::size_t>(count)); }
};

// Requires: value is finite and not zero.
inline Scientific reference_scientific(double value) {
  char text[40];
  const char* end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::scientific).ptr;
  Scientific s;
  const char* p = text;
  if (*p == '-') {
    s.negative = true;
    ++p;
  }
  for (; *p != 'e'; ++p) {
    if (*p != '.') s.digits[s.count++] = *p;
  }
  std::from_chars(p + (p[1] == '+' ? 2 : 1), end, s.exponent);
  while (s.count > 1 && s.digits[s.count - 1] == '0') --s.count;
  return s;
}

}  // namespace tessary::testing
