// Helpers of the column tests: spec lists from their JSON text, and a planned schema that keeps
// its specs and layout alive.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "columns/column_schema.h"
#include "specs/read_specs.h"

namespace tessary::testing {

inline std::vector<AttrSpec> specs_from(std::string_view json) {
  auto read = read_specs(json);
  if (const ReadError* error = std::get_if<ReadError>(&read)) {
    ADD_FAILURE() << "bad specs in a test: " << error->message;
    return {};
  }
  return std::get<std::vector<AttrSpec>>(std::move(read));
}

// Specs, their layout and their planned columns, which point into the first two.
struct Planned {
  std::vector<AttrSpec> specs;
  EntityLayout layout;
  std::variant<ColumnSchema, ColumnSchemaError> result;

  const ColumnSchema& schema() const { return std::get<ColumnSchema>(result); }
};

inline std::unique_ptr<Planned> plan(std::string_view json) {
  auto planned = std::make_unique<Planned>();
  planned->specs = specs_from(json);
  planned->layout = layout_entities(planned->specs);
  planned->result = plan_columns(planned->specs, planned->layout);
  return planned;
}

}  // namespace tessary::testing
