// JSON objects for tests: built from members written in any order, and looked up by key.
#pragma once

#include <string_view>
#include <utility>
#include <vector>

#include "records/json_value.h"

namespace tessary::testing {

// The object of members given in document order, as the reader builds it: sorted by key, a
// repeated key keeping its last value.
inline JsonObject object_of(std::vector<JsonMember> members) {
  return JsonObject::from_members(std::move(members));
}

// The value stored under key, or nullptr when the object has no such key.
inline const JsonValue* find_member(const JsonObject& object, std::string_view key) {
  for (const JsonMember& member : object) {
    if (member.key == key) return &member.value;
  }
  return nullptr;
}

}  // namespace tessary::testing
