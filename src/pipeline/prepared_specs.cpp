#include "pipeline/prepared_specs.h"

#include "specs/read_specs.h"

namespace tessary {

PreparedSpecs::PreparedSpecs(std::vector<AttrSpec> read)
    : specs(std::move(read)), layout(layout_entities(specs)), keys(prepare_entity_keys(layout)) {}

std::variant<std::shared_ptr<const PreparedSpecs>, ReadError> prepare_specs(
    std::string_view specs_json) {
  auto read = read_specs(specs_json);
  if (ReadError* error = std::get_if<ReadError>(&read)) return std::move(*error);
  return std::make_shared<const PreparedSpecs>(std::move(std::get<std::vector<AttrSpec>>(read)));
}

}  // namespace tessary
