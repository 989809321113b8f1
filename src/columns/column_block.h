// Column blocks: the entities of an id range as one Arrow record batch.
//
// A BatchBuilder allocates the buffers of a batch of known length once, then takes one built
// EntityRecord per row: a numeric cell is one store, a choice cell one load from the column's
// table (column_schema.h) and one store, a JSON text cell one copy of the value's prepared text.
// Only the JSON text grows while rows are appended (amortised doubling); nothing else allocates
// per row. finish() hands the columns over as a struct array, the Arrow form of a record batch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "columns/column_schema.h"
#include "nanoarrow/hpp/unique.hpp"
#include "records/attr_spec.h"
#include "records/entity_record.h"

namespace tessary {

class BatchBuilder {
 public:
  // Allocates a batch of `rows` rows for the schema. Requires: rows <= max_batch_rows(schema)
  // (panics otherwise); the schema outlives the builder. Throws std::bad_alloc when memory runs
  // out. Everything the builder holds is released when it is destroyed unfinished.
  BatchBuilder(const ColumnSchema& schema, std::size_t rows);

  // Appends one row: record.id and the record's values, member m into column m. Requires: fewer
  // than `rows` rows appended so far, and a record of the schema's layout built from the specs the
  // schema was planned from (a value that does not belong to its column panics).
  void append(const EntityRecord& record);

  // Requires: exactly `rows` rows appended. Returns the batch: a struct array of the id column
  // (uint64) and the schema's columns, as export_arrow_schema describes them. A column without
  // nulls carries no validity bitmap. The builder is empty afterwards.
  nanoarrow::UniqueArray finish();

 private:
  // Where one column's cells go, with the column's tables at hand.
  struct Slot {
    ColumnKind kind;
    std::uint8_t* validity;  // null when the column has no nulls to mark
    void* cells;             // int64, double or int32 cells, or the bits of a bool column
    std::int32_t* offsets;   // JSON text: rows + 1 offsets into `text`
    ArrowBuffer* text;       // JSON text
    std::int64_t nulls;
    const ChoiceCells* choice;
  };

  const ColumnSchema& schema_;
  std::size_t rows_;
  std::size_t appended_ = 0;
  nanoarrow::UniqueArray batch_;
  std::uint64_t* ids_ = nullptr;
  std::vector<Slot> slots_;  // slots_[m] for column m
};

// Builds the entities with ids [begin, end) under `seed`, in id order into `record` (reused), and
// returns them as one batch of end - begin rows.
//
// Requires: begin <= end and end - begin <= max_batch_rows(schema) (panics otherwise); the schema
// planned from these specs; `record` made by make_entity_record for their layout. Panics with the
// sampler's message at the first failing entity (the lowest of the range); then, as on
// std::bad_alloc, nothing of the batch stays allocated. Only reads the specs and the schema, so
// any number of threads may build batches of one schema at once, each into its own record.
nanoarrow::UniqueArray build_column_block(std::uint64_t seed, std::uint64_t begin,
                                          std::uint64_t end, std::span<const AttrSpec> specs,
                                          const ColumnSchema& schema, EntityRecord& record);

}  // namespace tessary
