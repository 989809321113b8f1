#include "specs/unexpected_text.h"

#include <cstdint>
#include <type_traits>
#include <variant>

#include "output/number_text.h"

namespace tessary {

namespace {

constexpr char HEX_DIGITS[] = "0123456789abcdef";

// The length of the well-formed UTF-8 sequence at the start of bytes (1 to 4), or 0 when the
// first byte does not start one: no overlong forms, no surrogates, nothing above U+10FFFF.
std::size_t utf8_sequence_length(std::string_view bytes) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
  const std::uint8_t lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length;
  std::uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

void append_hex_escape(std::string& out, const char* prefix, std::uint32_t code,
                       const char* suffix) {
  out += prefix;
  if (code >= 0x10) out += HEX_DIGITS[code >> 4];
  out += HEX_DIGITS[code & 0xF];
  out += suffix;
}

}  // namespace

std::string unexpected_text(const BufferedValue& value) {
  return std::visit(
      [&value](const auto& held) -> std::string {
        using T = std::decay_t<decltype(held)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return "null";
        } else if constexpr (std::is_same_v<T, bool>) {
          return held ? "boolean `true`" : "boolean `false`";
        } else if constexpr (std::is_same_v<T, JsonNumber>) {
          if (held.kind == JsonNumber::Kind::Double) {
            char area[F64_TEXT_CAPACITY];
            return "floating point `" + std::string(area, write_f64(held.d, area)) + "`";
          }
          if (held.kind == JsonNumber::Kind::Unsigned) {
            char area[U64_TEXT_CAPACITY];
            const std::size_t start = write_u64(held.u, area);
            return "integer `" + std::string(area + start, area + sizeof area) + "`";
          }
          char area[U64_TEXT_CAPACITY + 1];
          const std::size_t start = write_i64(held.i, area);
          return "integer `" + std::string(area + start, area + sizeof area) + "`";
        } else if constexpr (std::is_same_v<T, BufferedArray>) {
          return "sequence";
        } else if constexpr (std::is_same_v<T, BufferedObject>) {
          return "map";
        } else {
          std::string text = "string ";
          append_quoted(text, value.string());
          return text;
        }
      },
      value.data);
}

std::string invalid_type_message(const BufferedValue& value, std::string_view expected) {
  return "invalid type: " + unexpected_text(value) + ", expected " + std::string(expected);
}

std::string invalid_value_message(const BufferedValue& value, std::string_view expected) {
  return "invalid value: " + unexpected_text(value) + ", expected " + std::string(expected);
}

void append_quoted(std::string& out, std::string_view text) {
  out += '"';
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<std::uint8_t>(text[i]);
    const std::size_t length = utf8_sequence_length(text.substr(i));
    if (length == 0) {
      append_hex_escape(out, "\\x", byte, "");  // byte >= 0x80: two digits
      ++i;
      continue;
    }
    switch (byte) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case 0:
        out += "\\0";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          append_hex_escape(out, "\\u{", byte, "}");
        } else if (byte == 0xC2 && static_cast<std::uint8_t>(text[i + 1]) <= 0x9F) {
          // U+0080 to U+009F, the second control block.
          append_hex_escape(out, "\\u{", static_cast<std::uint8_t>(text[i + 1]), "}");
        } else {
          out.append(text, i, length);
        }
    }
    i += length;
  }
  out += '"';
}

}  // namespace tessary
