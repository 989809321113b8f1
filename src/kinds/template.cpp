#include "kinds/template.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <variant>

#include "output/double_text.h"
#include "output/json_writer.h"
#include "output/number_text.h"
#include "time/time_text.h"
#include "time/uuid_text.h"

namespace tessary {
namespace {

// The most bytes a field's text takes for a value whose JSON text takes at most `json_longest`
// (a string's text is its JSON text less the quotes and escapes).
std::uint64_t field_longest(std::uint64_t json_longest, const TemplateField& field) {
  if (field.format == TemplateField::Format::ZeroPadded) {
    return std::max<std::uint64_t>(field.width + 1, U64_TEXT_CAPACITY);
  }
  return json_longest;
}

// Whether a column of this kind holds integers or nulls only.
bool holds_integers(ColumnKind kind) {
  return kind == ColumnKind::Int64 || kind == ColumnKind::UInt64 ||
         kind == ColumnKind::ChoiceInt64 || kind == ColumnKind::ChoiceNull;
}

// Reads the format after ":" in a field: "lower", "upper" or "0Nd".
Problem read_format(std::string_view format, TemplateField& field, const char* at) {
  if (format == "lower") {
    field.format = TemplateField::Format::Lower;
    return std::nullopt;
  }
  if (format == "upper") {
    field.format = TemplateField::Format::Upper;
    return std::nullopt;
  }
  if (format.size() >= 3 && format.front() == '0' && format.back() == 'd') {
    const std::string_view digits = format.substr(1, format.size() - 2);
    unsigned width = 0;
    bool all_digits = !digits.empty() && digits.size() <= 2;
    for (char c : digits) {
      all_digits = all_digits && c >= '0' && c <= '9';
      width = width * 10 + static_cast<unsigned>(c - '0');
    }
    if (all_digits && width >= 1 && width <= 20) {
      field.format = TemplateField::Format::ZeroPadded;
      field.width = static_cast<std::uint8_t>(width);
      return std::nullopt;
    }
  }
  return parameter_problem("`template`: unknown format `" + std::string(format) +
                               "`: write lower, upper or 0Nd with N from 1 to 20",
                           at);
}

void append_digits(std::uint64_t magnitude, bool negative, std::uint8_t width, OutputBuffer& out) {
  char digits[U64_TEXT_CAPACITY];
  const std::size_t first = write_u64(magnitude, digits);  // right-aligned
  const std::size_t count = U64_TEXT_CAPACITY - first;
  out.reserve(1 + std::max<std::size_t>(width, count));
  if (negative) out.push_back('-');
  for (std::size_t pad = count; pad < width; ++pad) out.push_back('0');
  out.append(digits + first, count);
}

// The text of a value that is not a string, as the JSON text writes it; time values and UUIDs
// without their quotes (no byte of theirs needs an escape).
void append_plain(const AttributeValue& value, const OutputBuffer& entity_text, OutputBuffer& out) {
  // Kept per thread, so that a field of a double or an array allocates nothing once warm.
  thread_local OutputBuffer json;
  json.clear();
  write_attribute_value(value, entity_text, json);
  std::string_view text = json.view();
  if (text.front() == '"') text = text.substr(1, text.size() - 2);
  out.append(text);
}

}  // namespace

void append_field_text(const AttributeValue& value, TemplateField::Format format,
                       std::uint8_t width, const OutputBuffer& entity_text, OutputBuffer& out) {
  using Kind = AttributeValue::Kind;
  const std::size_t start = out.size();
  const JsonValue* borrowed = value.kind == Kind::Borrowed ? value.borrowed : nullptr;
  const JsonNumber* number = borrowed ? std::get_if<JsonNumber>(&borrowed->data) : nullptr;
  if (value.kind == Kind::Null || (borrowed != nullptr && borrowed->is_null())) {
    return;
  } else if (format == TemplateField::Format::ZeroPadded &&
             (value.kind == Kind::Unsigned || value.kind == Kind::Negative)) {
    const bool negative = value.kind == Kind::Negative;
    append_digits(negative ? 0 - static_cast<std::uint64_t>(value.i) : value.u, negative, width,
                  out);
    return;
  } else if (format == TemplateField::Format::ZeroPadded && number != nullptr &&
             number->kind != JsonNumber::Kind::Double) {
    const bool negative = number->kind == JsonNumber::Kind::Negative;
    append_digits(negative ? 0 - static_cast<std::uint64_t>(number->i) : number->u, negative, width,
                  out);
    return;
  } else if (value.kind == Kind::Unsigned || value.kind == Kind::Negative) {
    const bool negative = value.kind == Kind::Negative;
    append_digits(negative ? 0 - static_cast<std::uint64_t>(value.i) : value.u, negative, 0, out);
  } else if (value.kind == Kind::Text) {
    // The entity's text may be `out` itself: make room first, so the bytes stay where they are.
    out.reserve(value.text.length);
    const char* bytes = entity_text.data() + value.text.offset;
    out.append(bytes, value.text.length);
  } else if (borrowed != nullptr && std::holds_alternative<std::string>(borrowed->data)) {
    const std::string& text = std::get<std::string>(borrowed->data);
    out.append(text.data(), text.size());
  } else {
    append_plain(value, entity_text, out);
  }
  if (format == TemplateField::Format::Lower || format == TemplateField::Format::Upper) {
    const bool lower = format == TemplateField::Format::Lower;
    char* bytes = out.tail() - (out.size() - start);
    for (std::size_t i = 0; i < out.size() - start; ++i) {
      const char c = bytes[i];
      if (lower && c >= 'A' && c <= 'Z') bytes[i] = static_cast<char>(c + 32);
      if (!lower && c >= 'a' && c <= 'z') bytes[i] = static_cast<char>(c - 32);
    }
  }
}

Problem Template::take(Template& spec, std::size_t, const BufferedValue& value, SpecScope& scope) {
  std::string_view text;
  if (Problem problem = take_string(value, text)) return problem;
  spec.parts.assign(1, TemplatePart{});
  spec.ascii = true;
  std::uint64_t literal_bytes = 0;
  std::uint64_t field_bytes = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '}') {
      if (i + 1 < text.size() && text[i + 1] == '}') {
        spec.parts.back().text.push_back('}');
        ++i;
        continue;
      }
      return parameter_problem("`template`: a single `}`: write `}}` for a brace",
                               byte_in_document(value, i));
    }
    if (c != '{') {
      spec.parts.back().text.push_back(c);
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '{') {
      spec.parts.back().text.push_back('{');
      ++i;
      continue;
    }
    const std::size_t close = text.find('}', i + 1);
    if (close == std::string_view::npos) {
      return parameter_problem("`template`: a `{` without its `}`: write `{{` for a brace",
                               byte_in_document(value, i));
    }
    std::string_view inside = text.substr(i + 1, close - i - 1);
    const std::size_t colon = inside.find(':');
    const std::string_view name = inside.substr(0, colon);
    TemplateField field;
    if (colon != std::string_view::npos) {
      if (Problem problem = read_format(inside.substr(colon + 1), field,
                                        byte_in_document(value, i + 2 + colon))) {
        return problem;
      }
    }
    const char* name_at = byte_in_document(value, i + 1);
    std::uint64_t json_longest = U64_TEXT_CAPACITY;
    bool field_ascii = true;
    if (name != "id") {
      const std::optional<std::size_t> k = scope.find(name);
      if (!k) return SpecScope::unresolved(name, name_at);
      if (field.format == TemplateField::Format::ZeroPadded &&
          !holds_integers(scope.column_of(*k).kind)) {
        return parameter_problem("`template`: `{" + std::string(inside) +
                                     "}` pads integers, and `" + std::string(name) +
                                     "` can give other values",
                                 name_at);
      }
      scope.refer_to(*k);
      field.spec = *k;
      const ValueTextBounds bounds = scope.text_bounds_of(*k);
      json_longest = bounds.longest;
      field_ascii = bounds.ascii;
    }
    field_bytes += field_longest(json_longest, field);
    spec.ascii = spec.ascii && field_ascii;
    spec.parts.back().field = field;
    spec.parts.emplace_back();
    i = close;
  }
  for (const TemplatePart& part : spec.parts) {
    literal_bytes += part.text.size();
    spec.ascii = spec.ascii && is_ascii(part.text);
  }
  spec.shortest = literal_bytes;
  spec.longest = literal_bytes + field_bytes;
  return std::nullopt;
}

TextSpan Template::draw(Draw params, Xoshiro256PlusPlus&, const EntityContext& entity) {
  OutputBuffer& out = *entity.text;
  const std::size_t start = out.size();
  for (const TemplatePart& part : params->parts) {
    out.append(part.text.data(), part.text.size());
    if (!part.field) continue;
    const TemplateField& field = *part.field;
    AttributeValue value;
    if (field.spec == TemplateField::ID) {
      value.kind = AttributeValue::Kind::Unsigned;
      value.u = entity.id;
    } else {
      value = entity.values[field.spec];
    }
    append_field_text(value, field.format, field.width, out, out);
  }
  return {start, out.size() - start};
}

}  // namespace tessary
