#include "specs/json_reader.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "specs/pow10_table.h"
#include "specs/unexpected_text.h"

namespace tessary {

namespace {

// Bit b is set for each whitespace byte b: space, tab, line feed, carriage return.
constexpr std::uint64_t WHITESPACE_MASK =
    (1ull << ' ') | (1ull << '\t') | (1ull << '\n') | (1ull << '\r');

bool is_whitespace(std::uint8_t byte) {
  return byte < 64 && ((WHITESPACE_MASK >> byte) & 1);
}

bool is_digit(int byte) {
  return byte >= '0' && byte <= '9';
}

// Whether the eight bytes of word are all ASCII digits: each byte's high nibble is 3 and adding 6
// to it does not carry into the high nibble.
bool all_digits(std::uint64_t word) {
  constexpr std::uint64_t high_nibbles = 0xF0F0F0F0F0F0F0F0ull;
  constexpr std::uint64_t threes = 0x3030303030303030ull;
  return (word & high_nibbles) == threes &&
         ((word + 0x0606060606060606ull) & high_nibbles) == threes;
}

// The value of eight ASCII digits loaded little-endian (the first digit in the lowest byte):
// pairs of digits, then pairs of pairs, then the two halves are combined by multiplications.
std::uint64_t eight_digit_value(std::uint64_t word) {
  word -= 0x3030303030303030ull;
  word = word * 10 + (word >> 8);  // each even byte now holds a two-digit value
  constexpr std::uint64_t mask = 0x000000FF000000FFull;
  constexpr std::uint64_t mul1 = 100 + (1000000ull << 32);
  constexpr std::uint64_t mul2 = 1 + (10000ull << 32);
  return ((word & mask) * mul1 + ((word >> 16) & mask) * mul2) >> 32;
}

// Whether significand * 10 + digit still fits an unsigned 64-bit integer.
bool digit_fits(std::uint64_t significand, int digit) {
  constexpr std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() / 10;
  constexpr int last = static_cast<int>(std::numeric_limits<std::uint64_t>::max() % 10);
  return significand < limit || (significand == limit && digit <= last);
}

std::int32_t saturating_add(std::int32_t a, std::int64_t b) {
  const std::int64_t sum = static_cast<std::int64_t>(a) + b;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      sum, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// The value of a hexadecimal digit, or -1.
int hex_value(std::uint8_t byte) {
  if (byte >= '0' && byte <= '9') return byte - '0';
  if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
  if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
  return -1;
}

void append_utf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Bytes that end the plain run of a string: the quote, the backslash and every byte below 0x20.
bool is_string_special(std::uint8_t byte) {
  return byte == '"' || byte == '\\' || byte < 0x20;
}

// For each byte of word that is a string special, the top bit of that byte is set; bits above the
// lowest special byte may be set spuriously (borrows), the lowest set bit is always exact.
std::uint64_t string_special_bits(std::uint64_t word) {
  constexpr std::uint64_t ones = 0x0101010101010101ull;
  constexpr std::uint64_t highs = 0x8080808080808080ull;
  const auto zero_bytes = [](std::uint64_t x) { return (x - ones) & ~x & highs; };
  const std::uint64_t below_space = (word - ones * 0x20) & ~word & highs;
  return below_space | zero_bytes(word ^ (ones * '"')) | zero_bytes(word ^ (ones * '\\'));
}

// Scales significand by 10^exponent, the last part of the reader's number conversion. The
// significand is converted to the nearest double; a non-negative exponent of at most 308 then
// multiplies by the table's 10^exponent, and a result that overflows to infinity is out of range.
// A negative exponent divides by 10^-exponent; below -308 the value is first divided by 10^308 as
// often as needed (a value that reaches 0 on the way stays 0). A positive exponent above 308 is out
// of range unless the significand is 0. Returns false when out of range. Deliberately not
// correctly rounded: the significand is rounded when converted, and the product or quotient again
// by every operation.
bool scale_by_power_of_ten(std::uint64_t significand, std::int32_t exponent, double& out) {
  double f = static_cast<double>(significand);
  for (;;) {
    const std::uint32_t magnitude = exponent < 0 ? 0u - static_cast<std::uint32_t>(exponent)
                                                 : static_cast<std::uint32_t>(exponent);
    if (magnitude < POW10_F64_COUNT) {
      if (exponent >= 0) {
        f *= POW10_F64[magnitude];
        if (std::isinf(f)) return false;
      } else {
        f /= POW10_F64[magnitude];
      }
      break;
    }
    if (f == 0) break;
    if (exponent >= 0) return false;
    f /= POW10_F64[308];
    exponent += 308;
  }
  out = f;
  return true;
}

}  // namespace

BufferedValue keep_string(const StringRead& string) {
  BufferedValue value;
  if (string.in_document) {
    value.data = string.text;
  } else {
    value.data = std::string(string.text);
  }
  return value;
}

JsonReader::JsonReader(std::string_view text) : text_(text) {}

// ---- whitespace, brackets and separators

void JsonReader::skip_whitespace() {
  while (index_ < text_.size() && is_whitespace(static_cast<std::uint8_t>(text_[index_]))) {
    ++index_;
  }
}

int JsonReader::peek_value() {
  const int next = peek_after_whitespace();
  if (next == END) fail_consumed("EOF while parsing a value");
  return next;
}

bool JsonReader::open_bracket() {
  if (--nesting_ == 0) return fail_next("recursion limit exceeded");
  consume();
  return true;
}

void JsonReader::close_bracket() {
  consume();
  ++nesting_;
}

void JsonReader::finish_object() {
  if (peek_after_whitespace() == '}') consume();
  ++nesting_;
  if (failed_ && !error_placed_) {
    error_index_ = index_;
    error_placed_ = true;
  }
}

JsonReader::Step JsonReader::next_element(bool first) {
  int next = peek_after_whitespace();
  if (next == ']') return Step::End;
  if (next == END) return (fail_consumed("EOF while parsing a list"), Step::Failed);
  if (first) return Step::Item;
  if (next != ',') return (fail_next("expected `,` or `]`"), Step::Failed);
  consume();
  next = peek_after_whitespace();
  if (next == ']') return (fail_next("trailing comma"), Step::Failed);
  if (next == END) return (fail_consumed("EOF while parsing a value"), Step::Failed);
  return Step::Item;
}

JsonReader::Step JsonReader::next_key(bool first, StringRead& key) {
  int next = peek_after_whitespace();
  if (next == '}') return Step::End;
  if (next == END) return (fail_consumed("EOF while parsing an object"), Step::Failed);
  if (!first) {
    if (next != ',') return (fail_next("expected `,` or `}`"), Step::Failed);
    consume();
    next = peek_after_whitespace();
    if (next == '}') return (fail_next("trailing comma"), Step::Failed);
    if (next == END) return (fail_consumed("EOF while parsing a value"), Step::Failed);
  }
  if (next != '"') return (fail_next("key must be a string"), Step::Failed);
  return read_string(key) ? Step::Item : Step::Failed;
}

bool JsonReader::read_colon() {
  const int next = peek_after_whitespace();
  if (next == ':') {
    consume();
    return true;
  }
  if (next == END) return fail_consumed("EOF while parsing an object");
  return fail_next("expected `:`");
}

bool JsonReader::end_document() {
  return peek_after_whitespace() == END || fail_next("trailing characters");
}

// ---- values

bool JsonReader::read_value(BufferedValue& out) {
  return read_any(out);
}

// Value is BufferedValue (a member value: strings without escapes stay views) or JsonValue (inside
// an array or object: strings are copied).
template <typename Value>
bool JsonReader::read_any(Value& out) {
  const int next = peek_value();
  switch (next) {
    case END:
      return false;
    case 'n':
      consume();
      out.data = std::monostate{};
      return read_literal("ull");
    case 't':
      consume();
      out.data = true;
      return read_literal("rue");
    case 'f':
      consume();
      out.data = false;
      return read_literal("alse");
    case '"': {
      StringRead string;
      if (!read_string(string)) return false;
      if constexpr (std::is_same_v<Value, BufferedValue>) {
        out = keep_string(string);
      } else {
        out.data.template emplace<std::string>(string.text);
      }
      return true;
    }
    case '[':
      return read_array(out.data.template emplace<JsonArray>());
    case '{':
      return read_object(out.data.template emplace<JsonObject>());
    default:
      if (next == '-' || is_digit(next)) {
        return read_number(out.data.template emplace<JsonNumber>());
      }
      return fail_next("expected value");
  }
}

bool JsonReader::read_literal(std::string_view rest) {
  for (const char letter : rest) {
    const int next = peek();
    if (next == END) return fail_consumed("EOF while parsing a value");
    consume();
    if (next != static_cast<std::uint8_t>(letter)) return fail_consumed("expected ident");
  }
  return true;
}

namespace {

// Arrays shorter than this grow by doubling; longer ones are sized by extrapolation.
constexpr std::size_t EXTRAPOLATED_GROWTH_FROM = 4096;

// Growth is capped at this factor, so that a run of short items ahead of one long one cannot
// make a huge reservation.
constexpr double MOST_EXTRAPOLATED_GROWTH = 16;

// The capacity for a full array of `count` items that took `used` bytes of text, with `remaining`
// bytes of text after them: the items continuing at the same density to the end of the text (a
// large array is usually most of the document) with a sixteenth to spare, and at least double as
// a plain vector would grow. Sizing once or twice instead of doubling all the way saves the moves
// and the fresh pages of the doublings in between.
std::size_t extrapolated_capacity(std::size_t count, std::size_t used, std::size_t remaining) {
  const double items = static_cast<double>(count);
  const double expected =
      items + items / static_cast<double>(used) * static_cast<double>(remaining);
  const double wanted = std::min(expected * 1.0625, items * MOST_EXTRAPOLATED_GROWTH);
  return std::max(2 * count, static_cast<std::size_t>(wanted));
}

}  // namespace

bool JsonReader::read_array(JsonArray& items) {
  if (!open_bracket()) return false;
  const std::size_t start = index_;
  for (bool first = true;; first = false) {
    switch (next_element(first)) {
      case Step::Item:
        if (items.size() == items.capacity() && items.size() >= EXTRAPOLATED_GROWTH_FROM) {
          items.reserve(extrapolated_capacity(items.size(), index_ - start, text_.size() - index_));
        }
        if (!read_any(items.emplace_back())) return false;
        break;
      case Step::End:
        close_bracket();
        // An extrapolation that overshot by more than doubling would have is given back.
        if (items.capacity() > 2 * items.size() && items.size() >= EXTRAPOLATED_GROWTH_FROM) {
          items.shrink_to_fit();
        }
        return true;
      case Step::Failed:
        return false;
    }
  }
}

bool JsonReader::read_object(JsonObject& object) {
  if (!open_bracket()) return false;
  // Members gather on the reader's stack, shared by every open object, and move into storage of
  // their exact number when the object closes: one allocation per object, none freed on the way.
  // A nested object pushes above this one's members and has taken them off again by the time its
  // value is stored here.
  const std::size_t base = member_stack_.size();
  StringRead key;
  for (bool first = true;; first = false) {
    switch (next_key(first, key)) {
      case Step::Item: {
        std::string name(key.text);  // before the value's strings reuse the scratch buffer
        JsonValue value;
        if (!read_colon() || !read_any(value)) return false;
        member_stack_.push_back({std::move(name), std::move(value)});
        break;
      }
      case Step::End: {
        close_bracket();
        const auto first_member = member_stack_.begin() + static_cast<std::ptrdiff_t>(base);
        std::vector<JsonMember> members(std::make_move_iterator(first_member),
                                        std::make_move_iterator(member_stack_.end()));
        member_stack_.erase(first_member, member_stack_.end());
        object = JsonObject::from_members(std::move(members));
        return true;
      }
      case Step::Failed:
        return false;
    }
  }
}

bool JsonReader::expect_value(char first, std::string_view expected) {
  const int next = peek_value();
  if (next == END) return false;
  if (next != static_cast<unsigned char>(first)) return report_unexpected(expected);
  return true;
}

bool JsonReader::report_unexpected(std::string_view expected) {
  BufferedValue value;
  const int next = peek();
  if (next == '[') {
    value.data = JsonArray{};
  } else if (next == '{') {
    value.data = JsonObject{};
  } else if (next == END) {
    return fail_next("expected value");
  } else if (!read_value(value)) {  // a scalar, or "expected value" for a byte that starts none
    return false;
  }
  return fail_consumed(invalid_type_message(value, expected));
}

// ---- numbers
//
// Grammar: -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?. The number ends at the first
// byte that cannot continue it, which is left for the caller.
//
// Conversion: the digits build an unsigned 64-bit significand S while they fit. Integer digits
// that no longer fit are dropped and each raises the decimal exponent E by one; fraction digits
// that fit lower E by one each, and from the first that does not fit all are dropped. The explicit
// exponent is added with saturation. Then S is converted to double and scaled by the table's power
// of ten (scale_by_power_of_ten). An integer without fraction or exponent whose digits all fit
// stays an integer: unsigned when non-negative, signed when negative and down to -2^63, else a
// double (so -0 is negative zero).

bool JsonReader::read_number(JsonNumber& out) {
  const bool negative = peek() == '-';
  if (negative) consume();
  int next = peek();
  if (next == END) return fail_consumed("EOF while parsing a value");
  consume();
  if (!is_digit(next)) return fail_consumed("invalid number");

  std::uint64_t significand = static_cast<std::uint64_t>(next - '0');
  std::int32_t exponent = 0;
  bool is_double = false;  // digits dropped, a fraction or an exponent
  if (next == '0') {
    if (is_digit(peek())) return fail_next("invalid number");
  } else {
    const DigitRun run = read_digit_run(significand);
    if (run.appended < run.consumed) {
      is_double = true;
      exponent = saturating_add(exponent, static_cast<std::int64_t>(run.consumed - run.appended));
    }
  }

  next = peek();
  if (next == '.') {
    consume();
    next = peek();
    if (next == END) return fail_consumed("EOF while parsing a value");
    if (!is_digit(next)) return fail_next("invalid number");
    const DigitRun run = read_digit_run(significand);
    exponent = saturating_add(exponent, -static_cast<std::int64_t>(run.appended));
    is_double = true;
    next = peek();
  }

  if (next == 'e' || next == 'E') {
    consume();
    return read_exponent(negative, significand, exponent, out);
  }
  if (is_double) return finish_number(negative, significand, exponent, out);

  if (!negative) {
    out = JsonNumber::from_u64(significand);
  } else if (significand >= 1 && significand <= (1ull << 63)) {
    out = JsonNumber::from_negative(static_cast<std::int64_t>(0 - significand));
  } else {
    out = JsonNumber::from_f64(-static_cast<double>(significand));
  }
  return true;
}

JsonReader::DigitRun JsonReader::read_digit_run(std::uint64_t& significand) {
  // A local index keeps the loops in registers.
  const std::string_view text = text_;
  std::size_t i = index_;
  if constexpr (std::endian::native == std::endian::little) {
    // Eight digits at a time while they surely fit: below 10^11, S * 10^8 + 99999999 < 10^19.
    while (significand < 100'000'000'000ull && text.size() - i >= 8) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + i, 8);
      if (!all_digits(word)) break;
      significand = significand * 100'000'000 + eight_digit_value(word);
      i += 8;
    }
  }
  while (i < text.size() && is_digit(text[i]) && digit_fits(significand, text[i] - '0')) {
    significand = significand * 10 + static_cast<std::uint64_t>(text[i] - '0');
    ++i;
  }
  const std::size_t appended = i - index_;
  while (i < text.size() && is_digit(text[i])) ++i;
  const DigitRun run{i - index_, appended};
  index_ = i;
  return run;
}

// After the exponent mark.
bool JsonReader::read_exponent(bool negative, std::uint64_t significand, std::int32_t exponent,
                               JsonNumber& out) {
  bool positive_exponent = true;
  if (peek() == '+') {
    consume();
  } else if (peek() == '-') {
    consume();
    positive_exponent = false;
  }
  int next = peek();
  if (next == END) return fail_consumed("EOF while parsing a value");
  consume();
  if (!is_digit(next)) return fail_consumed("invalid number");

  std::int32_t value = next - '0';
  constexpr std::int32_t limit = std::numeric_limits<std::int32_t>::max() / 10;
  constexpr int last = std::numeric_limits<std::int32_t>::max() % 10;
  while (is_digit(next = peek())) {
    consume();
    const int digit = next - '0';
    if (value > limit || (value == limit && digit > last)) {
      // Too many exponent digits: an error for a non-zero number growing, else zero.
      if (significand != 0 && positive_exponent) return fail_consumed("number out of range");
      while (is_digit(peek())) consume();
      out = JsonNumber::from_f64(negative ? -0.0 : 0.0);
      return true;
    }
    value = value * 10 + digit;
  }
  exponent = saturating_add(exponent, positive_exponent ? value : -std::int64_t{value});
  return finish_number(negative, significand, exponent, out);
}

bool JsonReader::finish_number(bool negative, std::uint64_t significand, std::int32_t exponent,
                               JsonNumber& out) {
  double value;
  if (!scale_by_power_of_ten(significand, exponent, value)) {
    return fail_consumed("number out of range");
  }
  out = JsonNumber::from_f64(negative ? -value : value);
  return true;
}

// ---- strings

std::size_t JsonReader::find_string_special(std::size_t from) const {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text_.data());
  const std::size_t size = text_.size();
  std::size_t i = from;
  if constexpr (std::endian::native == std::endian::little) {
    for (; size - i >= 8; i += 8) {
      std::uint64_t word;
      std::memcpy(&word, bytes + i, 8);
      if (const std::uint64_t bits = string_special_bits(word)) {
        return i + static_cast<std::size_t>(std::countr_zero(bits)) / 8;
      }
    }
  }
  while (i < size && !is_string_special(bytes[i])) ++i;
  return i;
}

bool JsonReader::read_string(StringRead& out) {
  consume();  // the opening quote
  std::size_t start = index_;
  bool escaped = false;
  for (;;) {
    index_ = find_string_special(index_);
    if (index_ == text_.size()) return fail_consumed("EOF while parsing a string");
    const char byte = text_[index_];
    if (byte == '"') {
      const std::string_view run = text_.substr(start, index_ - start);
      consume();
      if (!escaped) {
        out = {run, true};
      } else {
        scratch_.append(run);
        out = {scratch_, false};
      }
      return true;
    }
    if (byte != '\\') {
      consume();
      return fail_consumed("control character (\\u0000-\\u001F) found while parsing a string");
    }
    if (!escaped) scratch_.clear();
    escaped = true;
    scratch_.append(text_.substr(start, index_ - start));
    consume();
    if (!read_escape()) return false;
    start = index_;
  }
}

// After a backslash.
bool JsonReader::read_escape() {
  const int letter = peek();
  if (letter == END) return fail_consumed("EOF while parsing a string");
  consume();
  switch (letter) {
    case '"':
      scratch_ += '"';
      return true;
    case '\\':
      scratch_ += '\\';
      return true;
    case '/':
      scratch_ += '/';
      return true;
    case 'b':
      scratch_ += '\b';
      return true;
    case 'f':
      scratch_ += '\f';
      return true;
    case 'n':
      scratch_ += '\n';
      return true;
    case 'r':
      scratch_ += '\r';
      return true;
    case 't':
      scratch_ += '\t';
      return true;
    case 'u':
      break;
    default:
      return fail_consumed("invalid escape");
  }
  std::uint32_t code;
  if (!read_hex_escape(code)) return false;
  if (code >= 0xDC00 && code <= 0xDFFF)
    return fail_consumed("lone leading surrogate in hex escape");
  if (code >= 0xD800 && code <= 0xDBFF) {
    // A leading surrogate: a trailing one must follow at once as another \u escape.
    for (const char expected : {'\\', 'u'}) {
      const int next = peek();
      if (next == END) return fail_consumed("EOF while parsing a string");
      consume();
      if (next != expected) return fail_consumed("unexpected end of hex escape");
    }
    std::uint32_t trailing;
    if (!read_hex_escape(trailing)) return false;
    if (trailing < 0xDC00 || trailing > 0xDFFF) {
      return fail_consumed("lone leading surrogate in hex escape");
    }
    code = ((code - 0xD800) << 10 | (trailing - 0xDC00)) + 0x10000;
  }
  append_utf8(scratch_, code);
  return true;
}

// After "\u": exactly four hexadecimal digits.
bool JsonReader::read_hex_escape(std::uint32_t& code) {
  if (text_.size() - index_ < 4) {
    index_ = text_.size();
    return fail_consumed("EOF while parsing a string");
  }
  code = 0;
  bool valid = true;
  for (int i = 0; i < 4; ++i) {
    const int digit = hex_value(static_cast<std::uint8_t>(text_[index_ + i]));
    valid = valid && digit >= 0;
    code = code << 4 | static_cast<std::uint32_t>(digit & 0xF);
  }
  index_ += 4;
  return valid || fail_consumed("invalid escape");
}

// ---- errors

bool JsonReader::fail(std::string message) {
  failed_ = true;
  error_message_ = std::move(message);
  error_placed_ = false;
  return false;
}

bool JsonReader::fail_consumed(std::string message) {
  return fail_at(index_, std::move(message));
}

bool JsonReader::fail_next(std::string message) {
  return fail_at(std::min(index_ + 1, text_.size()), std::move(message));
}

bool JsonReader::fail_at(std::size_t index, std::string message) {
  fail(std::move(message));
  error_index_ = index;
  error_placed_ = true;
  return false;
}

ReadError JsonReader::take_error() const {
  if (!error_placed_) return ReadError{error_message_};
  return placed_error(text_, error_index_, error_message_);
}

}  // namespace tessary
