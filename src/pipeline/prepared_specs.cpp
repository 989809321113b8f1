#include "pipeline/prepared_specs.h"

#include <algorithm>
#include <optional>
#include <string>
#include <variant>

#include "specs/read_specs.h"

namespace tessary {
EntityTextBounds entity_text_bounds(std::span<const AttrSpec> specs, const EntityLayout& layout,
                                    const EntityKeys& keys) {
  std::vector<ValueTextBounds> members(layout.member_names.size());
  OutputBuffer scratch;
  for (std::size_t k = 0; k < specs.size(); ++k) {
    // The last spec of a name wins.
    if (layout.member_of_spec[k] == EntityLayout::HIDDEN) continue;
    members[layout.member_of_spec[k]] = attribute_text_bounds(specs[k], scratch);
  }
  EntityTextBounds bounds{7, 7, true};  // {"id": and }
  for (std::size_t m = 0; m < members.size(); ++m) {
    const std::size_t key_bytes = keys.ends[m] - (m == 0 ? 0 : keys.ends[m - 1]);
    bounds.shortest += key_bytes + members[m].shortest;
    bounds.longest += key_bytes + members[m].longest;
    bounds.ascii = bounds.ascii && members[m].ascii;
  }
  // The keys hold the names' bytes as they are apart from ASCII escapes.
  bounds.ascii = bounds.ascii && is_ascii(keys.text.view());
  return bounds;
}

PreparedSpecs::PreparedSpecs(std::vector<AttrSpec> read)
    : specs(std::move(read)),
      layout(layout_entities(specs)),
      keys(prepare_entity_keys(layout)),
      text_bounds(entity_text_bounds(specs, layout, keys)) {}

std::optional<std::string> scale_problem(std::span<const AttrSpec> specs, std::uint64_t scale) {
  for (const AttrSpec& spec : specs) {
    if (Problem problem = attribute_scale_problem(spec, scale)) {
      return "attribute `" + spec.name + "`: " + problem->message;
    }
  }
  return std::nullopt;
}

namespace {

[[nodiscard]] std::variant<std::shared_ptr<const PreparedSpecs>, ReadError> prepare(
    std::variant<std::vector<AttrSpec>, ReadError> read) {
  if (ReadError* error = std::get_if<ReadError>(&read)) return std::move(*error);
  return std::make_shared<const PreparedSpecs>(std::move(std::get<std::vector<AttrSpec>>(read)));
}

}  // namespace

std::variant<std::shared_ptr<const PreparedSpecs>, ReadError> prepare_specs(
    std::string_view specs_json) {
  return prepare(read_specs(specs_json));
}

std::variant<std::shared_ptr<const PreparedSpecs>, ReadError> prepare_original_specs(
    std::string_view specs_json) {
  return prepare(read_original_specs(specs_json));
}

}  // namespace tessary
