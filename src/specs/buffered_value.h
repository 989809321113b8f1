// BufferedValue: the reader's faithful image of one JSON value, held until a spec object has been
// read whole and its members can be interpreted.
//
// Unlike JsonValue it keeps what the text said: object members stay in document order with
// repeated keys kept, and strings without escapes stay views into the document text (so the text
// must outlive the value). Nothing is validated or converted beyond the reader's own grammar.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "records/json_value.h"

namespace tessary {

struct BufferedValue;
struct BufferedMember;
using BufferedArray = std::vector<BufferedValue>;
using BufferedObject = std::vector<BufferedMember>;  // document order, repeated keys kept

struct BufferedValue {
  // Strings come as std::string_view (a view into the document text, when the string had no
  // escapes) or as std::string (their unescaped copy).
  std::variant<std::monostate, bool, JsonNumber, std::string_view, std::string, BufferedArray,
               BufferedObject>
      data;

  bool is_string() const {
    return std::holds_alternative<std::string_view>(data) ||
           std::holds_alternative<std::string>(data);
  }
  // Requires is_string().
  std::string_view string() const {
    if (const auto* view = std::get_if<std::string_view>(&data)) return *view;
    return std::get<std::string>(data);
  }
};

struct BufferedMember {
  BufferedValue key;  // always a string
  BufferedValue value;
};

// Lists made from buffered arrays reserve their length up front, but never more than 1 MiB worth:
// longer lists grow as they fill.
inline constexpr std::size_t MAX_RESERVED_JSON_VALUES = 32768;

// Turns a buffered value into a JsonValue, consuming it: numbers keep their kind, arrays their
// order, objects become key-ordered maps in which a repeated key keeps its last value. Recursion
// follows the value's nesting, which the reader has bounded.
JsonValue to_json_value(BufferedValue&& value);

// The same for each item of an array, in order.
JsonArray to_json_array(BufferedArray&& items);

}  // namespace tessary
