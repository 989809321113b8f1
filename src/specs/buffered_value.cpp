#include "specs/buffered_value.h"

#include <algorithm>
#include <type_traits>
#include <utility>

namespace tessary {

namespace {

std::string take_string(BufferedValue& value) {
  if (auto* owned = std::get_if<std::string>(&value.data)) return std::move(*owned);
  return std::string(std::get<std::string_view>(value.data));
}

}  // namespace

JsonValue to_json_value(BufferedValue&& value) {
  return std::visit(
      [&value](auto& held) -> JsonValue {
        using T = std::decay_t<decltype(held)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return JsonValue(nullptr);
        } else if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, JsonNumber>) {
          return JsonValue(held);
        } else if constexpr (std::is_same_v<T, BufferedArray>) {
          return JsonValue(to_json_array(std::move(held)));
        } else if constexpr (std::is_same_v<T, BufferedObject>) {
          std::vector<JsonMember> members;
          members.reserve(held.size());
          for (BufferedMember& member : held) {
            members.push_back({take_string(member.key), to_json_value(std::move(member.value))});
          }
          return JsonValue(JsonObject::from_members(std::move(members)));
        } else {
          return JsonValue(take_string(value));
        }
      },
      value.data);
}

JsonArray to_json_array(BufferedArray&& items) {
  JsonArray list;
  list.reserve(std::min(items.size(), MAX_RESERVED_JSON_VALUES));
  for (BufferedValue& item : items) list.push_back(to_json_value(std::move(item)));
  return list;
}

}  // namespace tessary
