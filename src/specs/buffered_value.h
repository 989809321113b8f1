// BufferedValue: one member value of a spec object, held until the object has been read whole and
// its members can be interpreted (the kind a spec has is only known then).
//
// A string stays a view into the document text when it had no escapes (so the text must outlive
// the value), else it is its unescaped copy. Arrays and objects are read straight into their
// JsonValue form: their items are kept only as "values" (where they are JsonValues) or looked at
// as numbers ("weights"), and objects are never looked into, so building them once saves a second
// pass over large lists. An object therefore already holds its keys in order, a repeated key with
// its last value; nothing else is validated or converted beyond the reader's own grammar.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "records/json_value.h"

namespace tessary {

struct BufferedValue {
  std::variant<std::monostate, bool, JsonNumber, std::string_view, std::string, JsonArray,
               JsonObject>
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

// A member of a spec object as read: its key (always a string) and its value.
struct BufferedMember {
  BufferedValue key;
  BufferedValue value;
};
using BufferedObject = std::vector<BufferedMember>;  // document order, repeated keys kept

}  // namespace tessary
