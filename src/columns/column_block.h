// Column blocks: the entities of an id range as one Arrow record batch.
//
// The batch's buffers are allocated once for its known length, and every entity is sampled
// straight into them: each attribute's value goes to the cell of its column's row (a numeric cell
// is one store, a choice cell one load from the column's table in column_schema.h, a JSON text
// cell one copy of the value's prepared text, a validity flag one bit), and the values of
// attributes whose name a later attribute takes over are dropped. The attributes' parameters are
// checked once per batch and the draws take them as they are (kinds/). Only the JSON text
// grows while rows are added (amortised doubling); nothing else allocates per row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "columns/column_schema.h"
#include "nanoarrow/hpp/unique.hpp"
#include "records/attr_spec.h"

namespace tessary {

// A batch's buffers of at least a huge page are aligned to huge pages and marked for them: a
// batch's memory is fresh, and faulting it in 4 KiB pages costs more than filling it. Batches of a
// multiple of HUGE_PAGE_ROWS rows fill the huge pages of their 8-byte columns exactly, so that
// no part of those columns is faulted in 4 KiB pages.
inline constexpr std::size_t HUGE_PAGE_BYTES = std::size_t{2} << 20;
inline constexpr std::uint64_t HUGE_PAGE_ROWS = HUGE_PAGE_BYTES / 8;

// Builds the entities with ids [begin, end) under `seed` and returns them as one batch: a struct
// array of the id column (uint64) and the schema's columns, as export_arrow_schema describes them.
// A column without nulls carries no validity bitmap.
//
// Requires: begin <= end and end - begin <= max_batch_rows(schema), and the schema planned from
// these very specs (each checked; a mismatch panics). Panics with the sampler's message at the
// first failing entity (the lowest of the range); then, as on std::bad_alloc, nothing of the batch
// stays allocated. Only reads the specs and the schema, so any number of threads may build batches
// of one schema at once.
nanoarrow::UniqueArray build_column_block(std::uint64_t seed, std::uint64_t begin,
                                          std::uint64_t end, std::span<const AttrSpec> specs,
                                          const ColumnSchema& schema);

}  // namespace tessary
