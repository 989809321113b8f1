#include "specs/unexpected_text.h"

#include <cstdint>
#include <type_traits>
#include <variant>

#include "output/number_text.h"
#include "specs/utf8.h"

namespace tessary {

namespace {

constexpr char HEX_DIGITS[] = "0123456789abcdef";

void append_hex_escape(std::string& out, const char* prefix, std::uint32_t code,
                       const char* suffix) {
  out += prefix;
  if (code >= 0x10) out += HEX_DIGITS[code >> 4];
  out += HEX_DIGITS[code & 0xF];
  out += suffix;
}

// The text for the value held in data, a BufferedValue's or a JsonValue's variant.
template <typename Variant>
std::string describe(const Variant& data) {
  return std::visit(
      [](const auto& held) -> std::string {
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
        } else if constexpr (std::is_same_v<T, JsonArray>) {
          return "sequence";
        } else if constexpr (std::is_same_v<T, JsonObject>) {
          return "map";
        } else {
          std::string text = "string ";
          append_quoted(text, held);
          return text;
        }
      },
      data);
}

}  // namespace

std::string unexpected_text(const BufferedValue& value) {
  return describe(value.data);
}

std::string unexpected_text(const JsonValue& value) {
  return describe(value.data);
}

std::string invalid_type_message(const BufferedValue& value, std::string_view expected) {
  return "invalid type: " + unexpected_text(value) + ", expected " + std::string(expected);
}

std::string invalid_type_message(const JsonValue& value, std::string_view expected) {
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
