// Whole JSON arrays of entity records, for the writer's tests and benchmark.
#pragma once

#include <cstddef>
#include <span>

#include "output/json_writer.h"
#include "records/entity_record.h"

namespace tessary::testing {

// "[", the entity objects separated by ",", "]", written as the pipeline writes them: with the
// keys prepared once for the layout of the first record. A record with another layout panics.
inline OutputBuffer write_entities(std::span<const EntityRecord> records) {
  OutputBuffer out;
  out.push_back('[');
  if (!records.empty()) {
    const EntityKeys keys = prepare_entity_keys(*records.front().layout);
    for (std::size_t r = 0; r < records.size(); ++r) {
      if (r != 0) out.push_back(',');
      write_entity(records[r], keys, out);
    }
  }
  out.push_back(']');
  return out;
}

}  // namespace tessary::testing
