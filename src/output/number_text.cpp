// Interim implementation on top of std::to_chars, kept until the table-driven writer lands.
#include "output/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tessary {

std::size_t write_u64(std::uint64_t value, char (&area)[U64_TEXT_CAPACITY]) {
  char text[U64_TEXT_CAPACITY];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  (void)ec;
  const std::size_t length = static_cast<std::size_t>(end - text);
  std::memcpy(area + U64_TEXT_CAPACITY - length, text, length);
  return U64_TEXT_CAPACITY - length;
}

std::size_t write_i64(std::int64_t value, char (&area)[U64_TEXT_CAPACITY + 1]) {
  const std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  char digits[U64_TEXT_CAPACITY];
  const std::size_t first = write_u64(magnitude, digits);
  const std::size_t length = U64_TEXT_CAPACITY - first;
  std::memcpy(area + 1 + first, digits + first, length);
  std::size_t start = 1 + first;
  if (value < 0) area[--start] = '-';
  return start;
}

std::size_t write_f64(double value, char (&area)[F64_TEXT_CAPACITY]) {
  char* out = area;
  if (std::signbit(value)) {
    *out++ = '-';
    value = -value;
  }
  if (value == 0) {
    std::memcpy(out, "0.0", 3);
    return static_cast<std::size_t>(out + 3 - area);
  }
  // Shortest scientific form: d.ddde[+-]x; split into digits and exponent, then lay out.
  char sci[32];
  auto [end, ec] = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
  (void)ec;
  *end = '\0';  // to_chars does not terminate; atoi below must stop at the exponent's end
  char digits[20];
  int n = 0;
  const char* p = sci;
  for (; p < end && *p != 'e'; ++p) {
    if (*p != '.') digits[n++] = *p;
  }
  const int exponent = std::atoi(p + 1);
  if (exponent < -5 || exponent > 15) {
    *out++ = digits[0];
    if (n > 1) {
      *out++ = '.';
      std::memcpy(out, digits + 1, n - 1);
      out += n - 1;
    }
    *out++ = 'e';
    *out++ = exponent < 0 ? '-' : '+';
    auto [e_end, e_ec] = std::to_chars(out, area + F64_TEXT_CAPACITY, exponent < 0 ? -exponent : exponent);
    (void)e_ec;
    out = e_end;
  } else if (n - 1 <= exponent) {
    std::memcpy(out, digits, n);
    out += n;
    std::memset(out, '0', exponent + 1 - n);
    out += exponent + 1 - n;
    std::memcpy(out, ".0", 2);
    out += 2;
  } else if (exponent < 0) {
    *out++ = '0';
    *out++ = '.';
    std::memset(out, '0', -exponent - 1);
    out += -exponent - 1;
    std::memcpy(out, digits, n);
    out += n;
  } else {
    std::memcpy(out, digits, exponent + 1);
    out += exponent + 1;
    *out++ = '.';
    std::memcpy(out, digits + exponent + 1, n - exponent - 1);
    out += n - exponent - 1;
  }
  return static_cast<std::size_t>(out - area);
}

}  // namespace tessary
