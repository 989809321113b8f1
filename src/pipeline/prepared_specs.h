// A specs document read once and made ready for building entities: the attribute specs, the
// layout of their members, the members' keys as JSON text and the bounds of an entity's text.
//
// The layout and keys point into the specs, so the three live together at one address (a
// PreparedSpecs is neither copied nor moved). Immutable once made: any number of threads may build
// from it at once, and every output made from one document (a table, its slices, their streams)
// shares it, the last owner freeing it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "output/json_writer.h"
#include "records/attr_spec.h"
#include "records/entity_record.h"
#include "specs/read_error.h"

namespace tessary {

// The fewest and the most bytes that the text of one entity object can take, whatever the values
// drawn, not counting the digits of its id: `{"id":` and `}`, every member's key, and the shortest
// or longest text of the value its last spec can give (a choice's shortest and longest value text;
// an integer 1 to 20 bytes; a double 3 to 24 bytes, the longest shortest-round-trip text, or
// "null"). A new kind of spec states its own.
struct EntityTextBounds {
  std::uint64_t shortest = 0;
  std::uint64_t longest = 0;
};

EntityTextBounds entity_text_bounds(std::span<const AttrSpec> specs, const EntityLayout& layout,
                                    const EntityKeys& keys);

struct PreparedSpecs {
  explicit PreparedSpecs(std::vector<AttrSpec> read);
  PreparedSpecs(const PreparedSpecs&) = delete;
  PreparedSpecs& operator=(const PreparedSpecs&) = delete;

  const std::vector<AttrSpec> specs;
  const EntityLayout layout;
  const EntityKeys keys;
  const EntityTextBounds text_bounds;
  const bool text_is_ascii;  // every byte of every entity's text is below 0x80
};

// Reads the document (UTF-8); its error is returned as a value. Running out of memory throws
// std::bad_alloc.
std::variant<std::shared_ptr<const PreparedSpecs>, ReadError> prepare_specs(
    std::string_view specs_json);

}  // namespace tessary
