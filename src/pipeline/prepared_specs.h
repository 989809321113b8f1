// A specs document read once and made ready for building entities: the attribute specs, the
// layout of their members and the members' keys as JSON text.
//
// The layout and keys point into the specs, so the three live together at one address (a
// PreparedSpecs is neither copied nor moved). Immutable once made: any number of threads may build
// from it at once, and every output made from one document (a table, its slices, their streams)
// shares it, the last owner freeing it.
#pragma once

#include <memory>
#include <string_view>
#include <variant>
#include <vector>

#include "output/json_writer.h"
#include "records/attr_spec.h"
#include "records/entity_record.h"
#include "specs/read_error.h"

namespace tessary {

struct PreparedSpecs {
  explicit PreparedSpecs(std::vector<AttrSpec> read);
  PreparedSpecs(const PreparedSpecs&) = delete;
  PreparedSpecs& operator=(const PreparedSpecs&) = delete;

  const std::vector<AttrSpec> specs;
  const EntityLayout layout;
  const EntityKeys keys;
};

// Reads the document (UTF-8); its error is returned as a value. Running out of memory throws
// std::bad_alloc.
std::variant<std::shared_ptr<const PreparedSpecs>, ReadError> prepare_specs(
    std::string_view specs_json);

}  // namespace tessary
