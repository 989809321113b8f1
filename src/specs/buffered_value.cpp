#include "specs/buffered_value.h"

#include <type_traits>
#include <utility>

namespace tessary {

JsonValue to_json_value(BufferedValue&& value) {
  return std::visit(
      [](auto& held) -> JsonValue {
        using T = std::decay_t<decltype(held)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return JsonValue(nullptr);
        } else if constexpr (std::is_same_v<T, std::string_view>) {
          return JsonValue(std::string(held));
        } else {
          return JsonValue(std::move(held));
        }
      },
      value.data);
}

}  // namespace tessary
