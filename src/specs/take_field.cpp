#include "specs/take_field.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "specs/unexpected_text.h"

namespace tessary {

namespace {

// A weights list reserves its length up front, but never more than 1 MiB worth.
constexpr std::size_t MAX_RESERVED_WEIGHTS = 131072;

}  // namespace

const JsonNumber* number_of(const BufferedValue& value) {
  return std::get_if<JsonNumber>(&value.data);
}

Problem take_i64(const BufferedValue& value, std::int64_t& out) {
  const JsonNumber* number = number_of(value);
  if (number == nullptr || number->kind == JsonNumber::Kind::Double) {
    return invalid_type_message(value, "i64");
  }
  if (number->kind == JsonNumber::Kind::Negative) {
    out = number->i;
  } else if (number->u <= static_cast<std::uint64_t>(INT64_MAX)) {
    out = static_cast<std::int64_t>(number->u);
  } else {
    return invalid_value_message(value, "i64");
  }
  return std::nullopt;
}

Problem take_string(const BufferedValue& value, std::string_view& out) {
  if (!value.is_string()) return invalid_type_message(value, "a string");
  out = value.string();
  return std::nullopt;
}

const char* byte_in_document(const BufferedValue& value, std::size_t offset) {
  const auto* view = std::get_if<std::string_view>(&value.data);
  if (view == nullptr || offset > view->size()) return nullptr;
  return view->data() + offset;
}

Problem take_f64(const BufferedValue& value, double& out) {
  const JsonNumber* number = number_of(value);
  if (number == nullptr) return invalid_type_message(value, "f64");
  out = number->to_f64();
  return std::nullopt;
}

Problem take_optional_f64(const BufferedValue& value, std::optional<double>& out) {
  if (std::holds_alternative<std::monostate>(value.data)) {
    out.reset();
    return std::nullopt;
  }
  return take_f64(value, out.emplace());
}

Problem take_json_value(BufferedValue& value, JsonValue& out) {
  std::visit(
      [&out]<class T>(T& data) {
        if constexpr (std::is_same_v<T, std::string_view>) {
          out.data = std::string(data);
        } else {
          out.data = std::move(data);
        }
      },
      value.data);
  return std::nullopt;
}

Problem take_values(BufferedValue& value, std::vector<JsonValue>& out) {
  auto* items = std::get_if<JsonArray>(&value.data);
  if (items == nullptr) return invalid_type_message(value, "a sequence");
  out = std::move(*items);
  return std::nullopt;
}

Problem take_weights(const BufferedValue& value, std::vector<double>& out) {
  const auto* items = std::get_if<JsonArray>(&value.data);
  if (items == nullptr) return invalid_type_message(value, "a sequence");
  out.reserve(std::min(items->size(), MAX_RESERVED_WEIGHTS));
  for (const JsonValue& item : *items) {
    const auto* number = std::get_if<JsonNumber>(&item.data);
    if (number == nullptr) return invalid_type_message(item, "f64");
    out.push_back(number->to_f64());
  }
  return std::nullopt;
}

}  // namespace tessary
