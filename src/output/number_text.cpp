#include "output/number_text.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "output/double_text.h"
#include "output/integer_text.h"

namespace tessary {
namespace {

using integer_text::magnitude_of;
using integer_text::put_u64_before;

}  // namespace

namespace double_text {

char* put_decimal_exact(double value, char* out) {
  const std::uint64_t magnitude_bits =
      std::bit_cast<std::uint64_t>(value) & ~(std::uint64_t{1} << 63);
  if (magnitude_bits == 0) {
    std::memcpy(out, "0.0", 3);
    return out + 3;
  }
  return put_decimal(digit_text(shortest_decimal_exact(magnitude_bits)), out);
}

}  // namespace double_text

std::size_t write_u64(std::uint64_t value, char (&area)[U64_TEXT_CAPACITY]) {
  return static_cast<std::size_t>(put_u64_before(value, area + U64_TEXT_CAPACITY) - area);
}

std::size_t write_i64(std::int64_t value, char (&area)[U64_TEXT_CAPACITY + 1]) {
  char* first = put_u64_before(magnitude_of(value), area + U64_TEXT_CAPACITY + 1);
  if (value < 0) *--first = '-';
  return static_cast<std::size_t>(first - area);
}

std::size_t write_f64(double value, char (&area)[F64_TEXT_CAPACITY]) {
  return static_cast<std::size_t>(double_text::put_f64(value, area) - area);
}

std::string u64_string(std::uint64_t value) {
  char area[U64_TEXT_CAPACITY];
  const std::size_t first = write_u64(value, area);
  return std::string(area + first, U64_TEXT_CAPACITY - first);
}

std::string f64_string(double value) {
  char area[F64_TEXT_CAPACITY];
  return std::string(area, write_f64(value, area));
}

}  // namespace tessary
