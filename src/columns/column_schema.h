// Column schema: the typed columns that hold the entities of a list of attribute specs, fixed by
// those attribute specs alone.
//
// A record batch has the column `id` (uint64) first, then one column per distinct attribute name,
// in the order of the name's first spec, holding the value of the name's last spec (the member
// that the JSON text keeps) and typed by that last spec:
//   uniform_int and the other integer kinds              int64
//   uniform_float, normal and the other double kinds     float64, null where not finite
//   bernoulli                   bool
//   timestamp                   timestamp with the attribute's unit and time zone "UTC"
//   date                        date32
//   uuid                        the canonical extension type arrow.uuid over
//                               fixed_size_binary(16), the bytes in text order
// An attribute with a null_rate above 0 is nullable, its nulls in the validity bitmap.
//   choice, by its values (JSON nulls among them are nulls of the column's type):
//     all integers fitting int64               int64
//     all numbers, each exact as a double      float64
//     all strings                              dictionary<int32, utf8>, the distinct strings in
//                                              first-seen order
//     all booleans                             bool
//     none, or only nulls                      the null type
//     anything else                            utf8 holding each value's compact JSON text as the
//                                              JSON writer writes it, typed `arrow.json`
//
// The cell of a choice column depends only on which value the entity picked, so planning the
// schema also works out, once, each value's cell (a lookup table); a block builder turns a
// picked value into its cell with one load.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "columns/column.h"
#include "nanoarrow/nanoarrow.h"
#include "records/attr_spec.h"
#include "records/entity_record.h"

namespace tessary {

struct ColumnSchema {
  // columns[m] holds member m of the layout (layout.member_names[m]); the id column comes before
  // them in every batch and is not listed.
  std::vector<Column> columns;
  // The longest text of a cell of the JSON text columns: a batch column's text must stay below
  // 2^31 bytes (utf8 offsets are int32), which bounds the rows of a batch.
  std::uint64_t max_cell_text_bytes = 0;
};

// Plans the columns of a list of attribute specs. Refuses an attribute named "id" (the id column
// has that name), a name holding U+0000 (an Arrow field name is a C string), and a choice whose
// distinct strings or JSON texts take 2^31 bytes or more together (too large for a batch column).
//
// Requires: layout == layout_entities(specs); the specs outlive the schema (names and the choice
// tables point into them). The schema is immutable afterwards and may be shared by threads.
[[nodiscard]] std::variant<ColumnSchema, ColumnSchemaError> plan_columns(
    std::span<const AttrSpec> specs, const EntityLayout& layout);

// The most rows a batch of this schema may hold: 2^31 - 1, fewer when its JSON text columns would
// outgrow int32 offsets (at least 1, since plan_columns refuses larger texts).
std::uint64_t max_batch_rows(const ColumnSchema& schema);

// The most bytes one row of this schema's batches can take, whatever the values drawn: the id,
// every column's cell at its widest (a JSON text column's longest text and its offset; a bit
// counted as a byte), and a validity byte for each nullable column.
std::uint64_t longest_row_bytes(const ColumnSchema& schema);

// The Arrow storage type of a column kind: int64 (timestamps too), double, null, bool, int32
// (dates, and the dictionary indices; the dictionary is utf8), fixed_size_binary (UUIDs) and
// utf8.
ArrowType column_storage_type(ColumnKind kind);

// Writes the Arrow schema of the record batches into `out` (a struct of the id column and the
// columns, in order; `out` must be released by its owner). Throws std::bad_alloc when memory runs
// out; nothing is left allocated then.
void export_arrow_schema(const ColumnSchema& schema, ArrowSchema* out);

}  // namespace tessary
