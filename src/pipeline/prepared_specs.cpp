#include "pipeline/prepared_specs.h"

#include <algorithm>
#include <limits>

#include "output/number_text.h"
#include "specs/read_specs.h"

namespace tessary {
namespace {

struct ValueTextBounds {
  std::size_t shortest = 0;
  std::size_t longest = 0;
};

// The fewest and the most bytes of the text of any value the spec can give; `scratch` is a
// buffer to write a choice's values into, one by one.
ValueTextBounds value_text_bounds(const AttrSpec& spec, OutputBuffer& scratch) {
  if (const Choice* choice = std::get_if<Choice>(&spec.kind)) {
    if (choice->values.empty()) return {4, 4};  // null
    ValueTextBounds bounds{std::numeric_limits<std::size_t>::max(), 0};
    for (const JsonValue& value : choice->values) {
      scratch.clear();
      write_value(value, scratch);
      bounds.shortest = std::min(bounds.shortest, scratch.size());
      bounds.longest = std::max(bounds.longest, scratch.size());
    }
    return bounds;
  }
  // One digit, or the 20 bytes of -9223372036854775808.
  if (std::holds_alternative<UniformInt>(spec.kind)) return {1, U64_TEXT_CAPACITY};
  // "0.0", or the longest shortest-round-trip text (a value that is not finite is "null").
  return {3, F64_TEXT_CAPACITY};
}

bool is_ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool is_ascii(const JsonValue& value) {
  if (const auto* text = std::get_if<std::string>(&value.data)) return is_ascii(*text);
  if (const auto* array = std::get_if<JsonArray>(&value.data)) {
    return std::all_of(array->begin(), array->end(),
                       [](const JsonValue& v) { return is_ascii(v); });
  }
  if (const auto* object = std::get_if<JsonObject>(&value.data)) {
    return std::all_of(object->begin(), object->end(),
                       [](const JsonMember& m) { return is_ascii(m.key) && is_ascii(m.value); });
  }
  return true;
}

// Every byte of an entity's text is ASCII unless a name or a text inside a choice is not.
bool output_is_ascii(std::span<const AttrSpec> specs) {
  return std::all_of(specs.begin(), specs.end(), [](const AttrSpec& spec) {
    if (!is_ascii(spec.name)) return false;
    const Choice* choice = std::get_if<Choice>(&spec.kind);
    return choice == nullptr || std::all_of(choice->values.begin(), choice->values.end(),
                                            [](const JsonValue& v) { return is_ascii(v); });
  });
}

}  // namespace

EntityTextBounds entity_text_bounds(std::span<const AttrSpec> specs, const EntityLayout& layout,
                                    const EntityKeys& keys) {
  std::vector<ValueTextBounds> members(layout.member_names.size());
  OutputBuffer scratch;
  for (std::size_t k = 0; k < specs.size(); ++k) {
    members[layout.member_of_spec[k]] = value_text_bounds(specs[k], scratch);  // the last spec wins
  }
  EntityTextBounds bounds{7, 7};  // {"id": and }
  for (std::size_t m = 0; m < members.size(); ++m) {
    const std::size_t key_bytes = keys.ends[m] - (m == 0 ? 0 : keys.ends[m - 1]);
    bounds.shortest += key_bytes + members[m].shortest;
    bounds.longest += key_bytes + members[m].longest;
  }
  return bounds;
}

PreparedSpecs::PreparedSpecs(std::vector<AttrSpec> read)
    : specs(std::move(read)),
      layout(layout_entities(specs)),
      keys(prepare_entity_keys(layout)),
      text_bounds(entity_text_bounds(specs, layout, keys)),
      text_is_ascii(output_is_ascii(specs)) {}

std::variant<std::shared_ptr<const PreparedSpecs>, ReadError> prepare_specs(
    std::string_view specs_json) {
  auto read = read_specs(specs_json);
  if (ReadError* error = std::get_if<ReadError>(&read)) return std::move(*error);
  return std::make_shared<const PreparedSpecs>(std::move(std::get<std::vector<AttrSpec>>(read)));
}

}  // namespace tessary
