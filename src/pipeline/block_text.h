// The text of one block of a range plan, as a JSON array's piece or as JSON Lines.
//
// JSON array: the blocks of a plan, concatenated in order, are one array: the first block starts
// with "[", every later one with ",", the last one ends with "]"; an empty range is "[]". JSON
// Lines: every entity object is followed by "\n", so any two consecutive ranges concatenate to
// the text of their union. Entity i's object has the same bytes in both forms.
#pragma once

#include <cstdint>
#include <span>

#include "output/json_writer.h"
#include "output/output_buffer.h"
#include "pipeline/range_plan.h"
#include "records/attr_spec.h"
#include "records/entity_record.h"

namespace tessary {

enum class TextFormat : std::uint8_t { JsonArray, JsonLines };

// Appends the text of block b of `plan` to `out`, building its entities in ascending id order in
// `record`. Requires: record and keys were made for the layout of these specs. A sampler's
// failure propagates as a Panic (the block's lowest failing entity, since ids go up), running out
// of memory as std::bad_alloc; `out` then holds part of the block. Reads the specs and keys only,
// so several threads may build blocks of one plan at once, each with its own record and buffer.
void append_block_text(const RangePlan& plan, std::uint64_t b, TextFormat format,
                       std::uint64_t seed, std::span<const AttrSpec> specs,
                       const EntityKeys& keys, EntityRecord& record, OutputBuffer& out);

}  // namespace tessary
