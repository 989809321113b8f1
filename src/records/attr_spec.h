// AttrSpec: one attribute of the entities to generate, as read from the specs document.
//
// A spec list is built once per call and then only read, by every worker thread at once, without
// locks; it outlives every record built from it, so records may point into it. The kinds of
// attribute and their parameters are listed in kinds/kind_list.h.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "kinds/kind_list.h"

namespace tessary {

struct AttrSpec {
  std::string name;
  AttrKind kind;
  // The share of entities whose value is null (`null_rate`, the package's language only), from 0
  // to 1; see sampling/entity_draws.h.
  double null_rate = 0;
  // What keys the attribute's decisions that are not value draws: its name and occurrence among
  // the specs of that name (sampling/entity_draws.h), set by the reader.
  std::uint64_t name_key = 0;
  // `hidden`: drawn, and readable by later specs, but neither a member of the text nor a column
  // (for a repeated name, its last spec decides).
  bool hidden = false;
  // Whether a later spec refers to this one's value, set by the reader.
  bool referenced = false;
};

// The bounds of the JSON text of an attribute's values: its kind's, with "null" when its null_rate
// is above 0.
inline ValueTextBounds attribute_text_bounds(const AttrSpec& spec, OutputBuffer& scratch) {
  ValueTextBounds bounds = std::visit(
      [&]<class K>(const K& params) { return K::text_bounds(params, scratch); }, spec.kind);
  if (spec.null_rate > 0) {
    bounds.shortest = std::min<std::size_t>(bounds.shortest, 4);
    bounds.longest = std::max<std::size_t>(bounds.longest, 4);
  }
  return bounds;
}

// Plans the column of an attribute's values (spec k of the list, for messages): its kind's,
// nullable when its null_rate is above 0.
[[nodiscard]] inline std::optional<ColumnSchemaError> plan_attribute_column(const AttrSpec& spec,
                                                                            std::size_t k,
                                                                            Column& column) {
  if (std::optional<ColumnSchemaError> error = std::visit(
          [&]<class K>(const K& params) { return K::plan_column(params, k, column); }, spec.kind)) {
    return error;
  }
  if (spec.null_rate > 0) column.nullable = true;
  return std::nullopt;
}

// The estimated work of one value of the attribute, in units of a scalar sample (kind_unit.h).
inline std::uint64_t attribute_work(const AttrSpec& spec) {
  return std::visit([]<class K>(const K& params) { return K::work(params); }, spec.kind);
}

// Whether drawing the attribute may take steps of the entity's generator (kind_unit.h).
inline bool takes_generator_steps(const AttrSpec& spec) {
  return std::visit(
      []<class K>(const K& params) {
        if constexpr (requires { K::takes_steps(params); }) {
          return K::takes_steps(params);
        } else if constexpr (requires { K::TAKES_STEPS; }) {
          return K::TAKES_STEPS;
        } else {
          return true;
        }
      },
      spec.kind);
}

// Why the ids 0 to scale - 1 of a table cannot all be built with this attribute (its kind's
// fits_scale), naming the member; none when they can.
[[nodiscard]] inline Problem attribute_scale_problem(const AttrSpec& spec, std::uint64_t scale) {
  return std::visit(
      [scale]<class K>(const K& params) -> Problem {
        if constexpr (requires { K::fits_scale(params, scale); }) {
          return K::fits_scale(params, scale);
        } else {
          return std::nullopt;
        }
      },
      spec.kind);
}

}  // namespace tessary
