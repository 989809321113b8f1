#include "specs/read_specs.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "specs/buffered_value.h"
#include "specs/json_reader.h"
#include "specs/unexpected_text.h"

namespace tessary {

namespace {

// A weights list reserves its length up front, but never more than 1 MiB worth.
constexpr std::size_t MAX_RESERVED_WEIGHTS = 131072;

// An error of interpreting the buffered members, which has no position yet; none when all is well.
using Problem = std::optional<std::string>;

// ---- conversions of one field value

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

// The list keeps the array's own storage, so nothing is reserved up front.
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

// ---- the "type" pass and the field pass

Problem kind_index_of(const BufferedValue& value, std::size_t& index) {
  if (value.is_string()) {
    const std::string_view text = value.string();
    const auto at = std::find(KIND_NAMES.begin(), KIND_NAMES.end(), text);
    if (at == KIND_NAMES.end()) {
      return "unknown variant `" + std::string(text) +
             "`, expected one of `uniform_int`, `uniform_float`, `normal`, `choice`";
    }
    index = static_cast<std::size_t>(at - KIND_NAMES.begin());
    return std::nullopt;
  }
  const JsonNumber* number = number_of(value);
  if (number == nullptr || number->kind != JsonNumber::Kind::Unsigned) {
    return invalid_type_message(value, "variant identifier");
  }
  if (number->u >= KIND_NAMES.size()) {
    return invalid_value_message(value, "variant index 0 <= i < 4");
  }
  index = static_cast<std::size_t>(number->u);
  return std::nullopt;
}

// Finds the "type" member and judges its value, in document order.
Problem select_kind(const BufferedObject& members, std::size_t& index) {
  bool found = false;
  for (const BufferedMember& member : members) {
    if (member.key.string() != "type") continue;
    if (found) return "duplicate field `type`";
    found = true;
    if (Problem problem = kind_index_of(member.value, index)) return problem;
  }
  if (!found) return "missing field `type`";
  return std::nullopt;
}

// The field pass of one kind: names are its fields, the first `required` of them required, in the
// order in which missing ones are reported. take(i, value) converts the value of field i. Members
// with other keys ("type" among them) are skipped.
template <std::size_t N, typename Take>
Problem take_fields(BufferedObject& members, const std::array<std::string_view, N>& names,
                    std::size_t required, Take take) {
  std::array<bool, N> taken{};
  for (BufferedMember& member : members) {
    const std::string_view key = member.key.string();
    const auto at = std::find(names.begin(), names.end(), key);
    if (at == names.end()) continue;
    const auto i = static_cast<std::size_t>(at - names.begin());
    if (taken[i]) return "duplicate field `" + std::string(key) + "`";
    taken[i] = true;
    if (Problem problem = take(i, member.value)) return problem;
  }
  for (std::size_t i = 0; i < required; ++i) {
    if (!taken[i]) return "missing field `" + std::string(names[i]) + "`";
  }
  return std::nullopt;
}

Problem read_kind(BufferedObject& members, std::size_t index, AttrKind& kind) {
  switch (index) {
    case 0: {
      UniformInt& spec = kind.emplace<UniformInt>();
      return take_fields(members, std::array<std::string_view, 2>{"low", "high"}, 2,
                         [&](std::size_t i, const BufferedValue& value) {
                           return take_i64(value, i == 0 ? spec.low : spec.high);
                         });
    }
    case 1: {
      UniformFloat& spec = kind.emplace<UniformFloat>();
      return take_fields(members, std::array<std::string_view, 2>{"low", "high"}, 2,
                         [&](std::size_t i, const BufferedValue& value) {
                           return take_f64(value, i == 0 ? spec.low : spec.high);
                         });
    }
    case 2: {
      Normal& spec = kind.emplace<Normal>();
      return take_fields(members, std::array<std::string_view, 4>{"mean", "std_dev", "min", "max"},
                         2, [&](std::size_t i, const BufferedValue& value) {
                           if (i < 2) return take_f64(value, i == 0 ? spec.mean : spec.std_dev);
                           return take_optional_f64(value, i == 2 ? spec.min : spec.max);
                         });
    }
    default: {
      std::vector<JsonValue> values;
      std::vector<double> weights;
      Problem problem =
          take_fields(members, std::array<std::string_view, 2>{"values", "weights"}, 1,
                      [&](std::size_t i, BufferedValue& value) {
                        if (i == 0) return take_values(value, values);
                        return take_weights(value, weights);
                      });
      if (!problem) kind = make_choice(std::move(values), std::move(weights));
      return problem;
    }
  }
}

// ---- the streaming pass

// After the colon of "name": its value must be a string.
bool read_name(JsonReader& reader, std::optional<std::string>& name) {
  const int next = reader.peek_value();
  if (next == JsonReader::END) return false;
  if (next != '"') return reader.report_unexpected("a string");
  StringRead text;
  if (!reader.read_string(text)) return false;
  name.emplace(text.text);
  return true;
}

// Reads the members of a spec object up to its "}" (left for the caller): "name" into name, every
// other member buffered whole, in document order.
bool read_members(JsonReader& reader, std::optional<std::string>& name, BufferedObject& members) {
  StringRead key;
  for (bool first = true;; first = false) {
    switch (reader.next_key(first, key)) {
      case JsonReader::Step::End:
        return true;
      case JsonReader::Step::Failed:
        return false;
      case JsonReader::Step::Item:
        break;
    }
    if (key.text == "name") {
      if (name) return reader.fail("duplicate field `name`");
      if (!reader.read_colon() || !read_name(reader, name)) return false;
    } else {
      BufferedMember& member = members.emplace_back();
      member.key = keep_string(key);
      if (!reader.read_colon() || !reader.read_value(member.value)) return false;
    }
  }
}

// At the "{" of a spec object: reads it whole, then interprets it. Errors of the interpretation
// are placed just after the object's "}".
bool read_spec(JsonReader& reader, std::vector<AttrSpec>& specs) {
  if (!reader.open_bracket()) return false;
  std::optional<std::string> name;
  BufferedObject members;
  AttrKind kind;
  bool ok = read_members(reader, name, members);
  if (ok) {
    std::size_t index = 0;
    Problem problem;
    if (!name) {
      problem = "missing field `name`";
    } else if (!(problem = select_kind(members, index))) {
      problem = read_kind(members, index, kind);
    }
    if (problem) ok = reader.fail(std::move(*problem));
  }
  reader.finish_object();
  if (ok) specs.push_back({std::move(*name), std::move(kind)});
  return ok;
}

// Reads the array of attribute specs; `starts`, when given, receives the index of each one's "{".
bool read_spec_list(JsonReader& reader, std::vector<AttrSpec>& specs,
                    std::vector<std::size_t>* starts) {
  const int next = reader.peek_value();
  if (next == JsonReader::END) return false;
  if (next != '[') return reader.report_unexpected("a sequence");
  if (!reader.open_bracket()) return false;
  for (bool first = true;; first = false) {
    switch (reader.next_element(first)) {
      case JsonReader::Step::Item:
        if (reader.peek() != '{') return reader.report_unexpected("struct AttrSpec");
        if (starts != nullptr) starts->push_back(reader.offset());
        if (!read_spec(reader, specs)) return false;
        break;
      case JsonReader::Step::End:
        reader.close_bracket();
        return reader.end_document();
      case JsonReader::Step::Failed:
        return false;
    }
  }
}

}  // namespace

std::variant<std::vector<AttrSpec>, ReadError> read_specs(std::string_view text) {
  JsonReader reader(text);
  std::vector<AttrSpec> specs;
  if (!read_spec_list(reader, specs, nullptr)) return reader.take_error();
  return specs;
}

std::variant<SpecDocument, ReadError> read_spec_document(std::string_view text) {
  JsonReader reader(text);
  SpecDocument document;
  if (!read_spec_list(reader, document.specs, &document.starts)) return reader.take_error();
  return document;
}

}  // namespace tessary
