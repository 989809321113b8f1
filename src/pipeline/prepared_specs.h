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
#include <optional>
#include <string>
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
// or longest text of the value the name's last attribute can give, as its kind states it (kinds/);
// and whether every byte of that text is ASCII, whatever the values drawn.
struct EntityTextBounds {
  std::uint64_t shortest = 0;
  std::uint64_t longest = 0;
  bool ascii = true;
};

EntityTextBounds entity_text_bounds(std::span<const AttrSpec> specs, const EntityLayout& layout,
                                    const EntityKeys& keys);

// Why the ids 0 to scale - 1 of a table cannot all be built from these specs (a sequence that
// leaves int64, a unique_int domain smaller than the scale), naming the attribute and the member;
// none when they can.
std::optional<std::string> scale_problem(std::span<const AttrSpec> specs, std::uint64_t scale);

struct PreparedSpecs {
  explicit PreparedSpecs(std::vector<AttrSpec> read);
  PreparedSpecs(const PreparedSpecs&) = delete;
  PreparedSpecs& operator=(const PreparedSpecs&) = delete;

  const std::vector<AttrSpec> specs;
  const EntityLayout layout;
  const EntityKeys keys;
  const EntityTextBounds text_bounds;
};

// Reads the document (UTF-8) in the package's language (read_specs); its error is returned as a
// value. Running out of memory throws std::bad_alloc.
[[nodiscard]] std::variant<std::shared_ptr<const PreparedSpecs>, ReadError> prepare_specs(
    std::string_view specs_json);

// prepare_specs for a document of the original language (read_original_specs): what
// tessary._core's generate_entities reads.
[[nodiscard]] std::variant<std::shared_ptr<const PreparedSpecs>, ReadError>
prepare_original_specs(std::string_view specs_json);

}  // namespace tessary
