#include "columns/column_block.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "base/assert.h"
#include "base/panic.h"
#include "columns/arrow_status.h"
#include "output/json_writer.h"
#include "sampling/build_entity.h"

namespace tessary {
namespace {

std::size_t bitmap_bytes(std::size_t rows) {
  return (rows + 7) / 8;
}

// The allocator of a batch's buffers: as nanoarrow's own (realloc and free), except that buffers
// of at least a huge page are aligned to huge pages and marked for them (see HUGE_PAGE_BYTES).
// Only whole huge pages are marked, so the tail of a buffer takes no more memory than it needs.
std::uint8_t* reallocate_batch_bytes(ArrowBufferAllocator*, std::uint8_t* bytes,
                                     std::int64_t old_size, std::int64_t new_size) {
  const auto size = static_cast<std::size_t>(new_size);
  if (size < HUGE_PAGE_BYTES) return static_cast<std::uint8_t*>(std::realloc(bytes, size));
  void* fresh = nullptr;
  if (posix_memalign(&fresh, HUGE_PAGE_BYTES, size) != 0) return nullptr;
  // Only a hint: failure is harmless.
  madvise(fresh, size / HUGE_PAGE_BYTES * HUGE_PAGE_BYTES, MADV_HUGEPAGE);
  if (bytes != nullptr) {
    std::memcpy(fresh, bytes, static_cast<std::size_t>(std::min(old_size, new_size)));
    std::free(bytes);
  }
  return static_cast<std::uint8_t*>(fresh);
}

void free_batch_bytes(ArrowBufferAllocator*, std::uint8_t* bytes, std::int64_t) {
  std::free(bytes);
}

// Requires: nothing allocated in the buffer yet.
void use_batch_allocator(ArrowBuffer* buffer) {
  check_arrow(
      ArrowBufferSetAllocator(buffer, {&reallocate_batch_bytes, &free_batch_bytes, nullptr}),
      "ArrowBufferSetAllocator");
}

// Gives `buffer` exactly `bytes` bytes, to be written by index.
void* allocate(ArrowBuffer* buffer, std::size_t bytes) {
  use_batch_allocator(buffer);
  check_arrow(ArrowBufferReserve(buffer, static_cast<std::int64_t>(bytes)), "ArrowBufferReserve");
  buffer->size_bytes = static_cast<std::int64_t>(bytes);
  return buffer->data;
}

template <typename T>
T* allocate_cells(ArrowArray* array, std::size_t rows) {
  return static_cast<T*>(allocate(ArrowArrayBuffer(array, 1), rows * sizeof(T)));
}

// A bitmap of `rows` bits, all 0, to be set bit by bit.
std::uint8_t* allocate_bitmap(ArrowBuffer* buffer, std::size_t rows) {
  auto* bits = static_cast<std::uint8_t*>(allocate(buffer, bitmap_bytes(rows)));
  if (rows > 0) std::memset(bits, 0, bitmap_bytes(rows));  // no buffer at all for 0 rows
  return bits;
}

void set_bit(std::uint8_t* bitmap, std::size_t row, bool bit) {
  bitmap[row / 8] |= static_cast<std::uint8_t>(unsigned{bit} << (row % 8));
}

// The dictionary of a string column, the same for every batch: the distinct strings as utf8.
void fill_dictionary(ArrowArray* column, const ChoiceCells& cells) {
  check_arrow(ArrowArrayAllocateDictionary(column), "ArrowArrayAllocateDictionary");
  ArrowArray* dictionary = column->dictionary;
  check_arrow(ArrowArrayInitFromType(dictionary, NANOARROW_TYPE_STRING), "ArrowArrayInitFromType");
  check_arrow(ArrowBufferAppend(ArrowArrayBuffer(dictionary, 1), cells.offsets.data(),
                                static_cast<std::int64_t>(cells.offsets.size() * 4)),
              "ArrowBufferAppend");
  check_arrow(ArrowBufferAppend(ArrowArrayBuffer(dictionary, 2), cells.text.data(),
                                static_cast<std::int64_t>(cells.text.size())),
              "ArrowBufferAppend");
  dictionary->length = static_cast<std::int64_t>(cells.offsets.size() - 1);
  dictionary->null_count = 0;
}

// Makes `array` an empty array of the column's storage type.
void init_column_array(ArrowArray* array, ColumnKind kind) {
  const ArrowType type = column_storage_type(kind);
  if (type != NANOARROW_TYPE_FIXED_SIZE_BINARY) {
    check_arrow(ArrowArrayInitFromType(array, type), "ArrowArrayInitFromType");
    return;
  }
  // A fixed-size binary array takes its width from a schema.
  nanoarrow::UniqueSchema schema;
  ArrowSchemaInit(schema.get());
  check_arrow(ArrowSchemaSetTypeFixedSize(schema.get(), type, UUID_BYTES),
              "ArrowSchemaSetTypeFixedSize");
  ArrowError error{};
  check_arrow(ArrowArrayInitFromSchema(array, schema.get(), &error), "ArrowArrayInitFromSchema",
              &error);
}

// Whether the column holds the values of this spec: a schema planned from other specs would send
// values to cells of another type, or index a choice table out of bounds.
bool column_fits_spec(const Column& column, const AttrSpec& spec) {
  return std::visit([&]<class K>(const K& params) { return K::fits_column(params, column); },
                    spec.kind);
}

// One batch being filled, row after row in id order.
class BatchBuilder {
 public:
  BatchBuilder(const ColumnSchema& schema, std::span<const AttrSpec> specs, std::uint64_t seed,
               std::size_t rows);

  // Draws entity `id` into the next row. Requires: fewer than `rows` rows added so far.
  void add(std::uint64_t id) {
    TESSARY_ASSERT(added_ < rows_);
    const std::size_t row = added_++;
    ids_[row] = id;
    entity_text_.clear();
    const EntityContext entity{id, spec_values_.data(), &entity_text_, parent_ids_.data()};
    sample_entity(seed_, id, targets_.size(), [&](std::size_t k, Xoshiro256PlusPlus& rng) {
      Target& target = targets_[k];
      const PreparedDraw& prepared = draws_[k];
      // A reference hands over the cell of the kind it copies, through a visitor of its own
      // (draw_reference).
      if (prepared.kind == kind_index<Reference>()) {
        auto keep_copy = [&]<class K, class Cell>(const K& params, Cell cell) {
          keep(target, prepared, k, row, id, params, cell);
        };
        draw_reference(prepared.draw.in_place<Reference>(), rng, entity, keep_copy);
        return;
      }
      draw_attribute(prepared, *target.spec, rng, entity,
                     [&]<class K, class Cell>(const K& params, Cell cell) {
                       keep(target, prepared, k, row, id, params, cell);
                     });
    });
  }

  // Requires: all rows added. The builder is empty afterwards.
  nanoarrow::UniqueArray finish();

 private:
  // Where an attribute's value goes. The type of the value its draw gives picks the cell (an
  // int64, a double with its validity bit, a choice's cell by the column's kind, ...). A value is
  // dropped when its name's column holds a later attribute's values or is of the null type (the
  // attribute still draws).
  struct Target {
    const AttrSpec* spec = nullptr;
    bool kept = false;
    ColumnKind column = ColumnKind::ChoiceNull;
    std::uint8_t* validity = nullptr;      // null when the column has no nulls to mark
    void* cells = nullptr;                 // the fixed-width cells, or the bits of a bool column
    std::int32_t* offsets = nullptr;       // JSON text: rows + 1 offsets into `text`
    ArrowBuffer* text = nullptr;           // JSON text
    const std::uint64_t* words = nullptr;  // a choice's cells (ChoiceCells)
    const std::uint8_t* valid = nullptr;
    const ChoiceCells* choice = nullptr;
    std::int64_t nulls = 0;
  };

  // Keeps attribute k's cell: as the value later attributes read, and in its column unless the
  // column drops it; null by the attribute's null_rate.
  template <class K, class Cell>
  [[gnu::always_inline]] void keep(Target& target, const PreparedDraw& prepared, std::size_t k,
                                   std::size_t row, std::uint64_t id, const K& params, Cell cell) {
    const bool null = prepared.is_null(id);
    if (target.spec->referenced) {
      spec_values_[k] = null ? AttributeValue::null() : K::value(params, cell);
    }
    if (!target.kept) return;
    if (null) {
      store_null(target, row);
    } else {
      store(target, row, cell);
    }
  }

  static void mark_validity(Target& target, std::size_t row, bool valid) {
    target.nulls += !valid;
    set_bit(target.validity, row, valid);
  }

  // A value that is never null by itself is valid, in a column that has nulls by null_rate.
  [[gnu::always_inline]] static void mark_valid(Target& target, std::size_t row) {
    if (target.validity != nullptr) set_bit(target.validity, row, true);
  }

  // int64 and timestamp cells.
  [[gnu::always_inline]] static void store(Target& target, std::size_t row, std::int64_t value) {
    static_cast<std::int64_t*>(target.cells)[row] = value;
    mark_valid(target, row);
  }

  // date32 cells.
  [[gnu::always_inline]] static void store(Target& target, std::size_t row, std::int32_t value) {
    static_cast<std::int32_t*>(target.cells)[row] = value;
    mark_valid(target, row);
  }

  // uint64 cells: the ids a reference to another table's `id` picks.
  [[gnu::always_inline]] static void store(Target& target, std::size_t row, ParentId value) {
    static_cast<std::uint64_t*>(target.cells)[row] = value.id;
    mark_valid(target, row);
  }

  [[gnu::always_inline]] static void store(Target& target, std::size_t row, bool value) {
    set_bit(static_cast<std::uint8_t*>(target.cells), row, value);
    mark_valid(target, row);
  }

  // The 16 bytes in text order: the high word's bytes first, most significant first.
  [[gnu::always_inline]] static void store(Target& target, std::size_t row, UuidBits value) {
    const std::uint64_t words[2] = {__builtin_bswap64(value.high), __builtin_bswap64(value.low)};
    std::memcpy(static_cast<std::uint8_t*>(target.cells) + row * UUID_BYTES, words, UUID_BYTES);
    mark_valid(target, row);
  }

  // Appends `bytes` as the text of cell `row` of a text column.
  static void append_text(Target& target, std::size_t row, std::string_view bytes) {
    check_arrow(
        ArrowBufferAppend(target.text, bytes.data(), static_cast<std::int64_t>(bytes.size())),
        "ArrowBufferAppend");
    // At most max_batch_rows rows of the longest text: below 2^31.
    target.offsets[row + 1] = static_cast<std::int32_t>(target.text->size_bytes);
  }

  // A string of the entity's text, into a utf8 column.
  void store(Target& target, std::size_t row, TextSpan value) {
    append_text(target, row, entity_text_.view().substr(value.offset, value.length));
    mark_valid(target, row);
  }

  // A value of any kind (a switch's), converted to the column's type: the column was planned from
  // every type the value can have.
  void store(Target& target, std::size_t row, const AttributeValue& value) {
    using Kind = AttributeValue::Kind;
    if (value.kind == Kind::Null) {
      store_null(target, row);
      return;
    }
    if (holds_choice_cells(target.column)) {
      // A choice's value, copied by a reference: its index in the choice's values.
      store(target, row, static_cast<std::size_t>(value.borrowed - target.choice->values));
      return;
    }
    switch (target.column) {
      case ColumnKind::Int64:
        store(target, row, int_of(value));
        return;
      case ColumnKind::UInt64:
        static_cast<std::uint64_t*>(target.cells)[row] = value.u;
        mark_valid(target, row);
        return;
      case ColumnKind::Float64:
        store(target, row, number_of(value)->to_f64());
        return;
      case ColumnKind::Timestamp:
        store(target, row, value.i);
        return;
      case ColumnKind::Date32:
        store(target, row, static_cast<std::int32_t>(value.i));
        return;
      case ColumnKind::Bool:
        store(target, row, value.kind == Kind::Bool ? value.u != 0 : bool_of(value));
        return;
      case ColumnKind::Uuid:
        store(target, row, value.uuid);
        return;
      case ColumnKind::Utf8:
        append_text(target, row, string_of(value));
        mark_valid(target, row);
        return;
      default:  // Json
        scratch_.clear();
        write_attribute_value(value, entity_text_, scratch_);
        append_text(target, row, scratch_.view());
        mark_valid(target, row);
        return;
    }
  }

  // An integer value, or a borrowed one, of an int64 column (so within int64).
  static std::int64_t int_of(const AttributeValue& value) {
    const JsonNumber number = *number_of(value);
    return number.kind == JsonNumber::Kind::Negative ? number.i
                                                     : static_cast<std::int64_t>(number.u);
  }
  // A borrowed boolean.
  static bool bool_of(const AttributeValue& value) { return std::get<bool>(value.borrowed->data); }
  // A borrowed string, or one of the entity's text.
  std::string_view string_of(const AttributeValue& value) const {
    if (value.kind == AttributeValue::Kind::Text) {
      return entity_text_.view().substr(value.text.offset, value.text.length);
    }
    return std::get<std::string>(value.borrowed->data);
  }

  // A float64 column is always nullable: a value that is not finite is null (and its cell 0, as
  // the null value of a record holds).
  [[gnu::always_inline]] static void store(Target& target, std::size_t row, double value) {
    const bool finite = std::isfinite(value);
    static_cast<double*>(target.cells)[row] = finite ? value : 0.0;
    mark_validity(target, row, finite);
  }

  // The cell of value `index` of the column's table (checked to list the attribute's values when
  // the builder was made).
  [[gnu::always_inline]] static void store(Target& target, std::size_t row, std::size_t index) {
    switch (target.column) {
      case ColumnKind::ChoiceBool:
        set_bit(static_cast<std::uint8_t*>(target.cells), row, target.words[index] != 0);
        break;
      case ColumnKind::ChoiceDictionary:
        static_cast<std::int32_t*>(target.cells)[row] =
            static_cast<std::int32_t>(target.words[index]);
        break;
      case ColumnKind::ChoiceJson: {
        const ChoiceCells& cells = *target.choice;
        const std::int32_t start = cells.offsets[index];
        check_arrow(ArrowBufferAppend(target.text, cells.text.data() + start,
                                      cells.offsets[index + 1] - start),
                    "ArrowBufferAppend");
        // At most max_batch_rows rows of the longest text: below 2^31.
        target.offsets[row + 1] = static_cast<std::int32_t>(target.text->size_bytes);
        break;
      }
      default:  // ChoiceInt64, ChoiceFloat64
        static_cast<std::uint64_t*>(target.cells)[row] = target.words[index];
        break;
    }
    if (target.validity != nullptr) mark_validity(target, row, target.valid[index] != 0);
  }

  // A null by the attribute's null_rate: a cell of zeros (a bool's bit stays 0, a JSON text is
  // empty) and a 0 validity bit.
  static void store_null(Target& target, std::size_t row) {
    switch (target.column) {
      case ColumnKind::Int64:
      case ColumnKind::UInt64:
      case ColumnKind::Float64:
      case ColumnKind::Timestamp:
      case ColumnKind::ChoiceInt64:
      case ColumnKind::ChoiceFloat64:
        static_cast<std::uint64_t*>(target.cells)[row] = 0;
        break;
      case ColumnKind::Date32:
      case ColumnKind::ChoiceDictionary:
        static_cast<std::int32_t*>(target.cells)[row] = 0;
        break;
      case ColumnKind::Uuid:
        std::memset(static_cast<std::uint8_t*>(target.cells) + row * UUID_BYTES, 0, UUID_BYTES);
        break;
      case ColumnKind::ChoiceJson:
      case ColumnKind::Utf8:
      case ColumnKind::Json:
        target.offsets[row + 1] = target.offsets[row];
        break;
      case ColumnKind::Bool:
      case ColumnKind::ChoiceBool:
      case ColumnKind::ChoiceNull:
        break;
    }
    mark_validity(target, row, false);
  }

  const ColumnSchema& schema_;
  std::uint64_t seed_;
  std::size_t rows_;
  std::size_t added_ = 0;
  nanoarrow::UniqueArray batch_;
  std::uint64_t* ids_ = nullptr;
  std::vector<PreparedDraw> draws_;  // draws_[k] for attribute k
  std::vector<Target> targets_;      // targets_[k] for attribute k
  // The entity being drawn: the values of the attributes later ones refer to, and its strings.
  std::vector<AttributeValue> spec_values_;
  std::vector<std::uint64_t> parent_ids_;
  OutputBuffer entity_text_;
  OutputBuffer scratch_;  // the JSON text of a value, on its way into a JSON column
};

BatchBuilder::BatchBuilder(const ColumnSchema& schema, std::span<const AttrSpec> specs,
                           std::uint64_t seed, std::size_t rows)
    : schema_(schema),
      seed_(seed),
      rows_(rows),
      draws_(prepare_draws(specs, seed)),
      targets_(specs.size()),
      spec_values_(specs.size()),
      parent_ids_(specs.size()) {
  if (rows > max_batch_rows(schema)) {
    panic("a batch of " + std::to_string(rows) + " rows is more than its columns can hold (" +
          std::to_string(max_batch_rows(schema)) + ")");
  }
  const std::size_t columns = schema.columns.size();
  check_arrow(ArrowArrayInitFromType(batch_.get(), NANOARROW_TYPE_STRUCT),
              "ArrowArrayInitFromType");
  check_arrow(ArrowArrayAllocateChildren(batch_.get(), static_cast<std::int64_t>(columns + 1)),
              "ArrowArrayAllocateChildren");
  check_arrow(ArrowArrayInitFromType(batch_->children[0], NANOARROW_TYPE_UINT64),
              "ArrowArrayInitFromType");
  ids_ = allocate_cells<std::uint64_t>(batch_->children[0], rows);

  for (std::size_t k = 0; k < specs.size(); ++k) targets_[k].spec = &specs[k];
  for (std::size_t m = 0; m < columns; ++m) {
    const Column& column = schema.columns[m];
    if (column.spec >= specs.size() || !column_fits_spec(column, specs[column.spec])) {
      panic("column schema does not match its attribute specs");
    }
    ArrowArray* array = batch_->children[m + 1];
    init_column_array(array, column.kind);
    Target& target = targets_[column.spec];
    target.column = column.kind;
    target.kept = column.kind != ColumnKind::ChoiceNull;  // a column of nulls stores nothing
    target.words = column.choice.words.data();
    target.valid = column.choice.valid.data();
    target.choice = &column.choice;
    switch (column.kind) {
      case ColumnKind::Int64:
      case ColumnKind::UInt64:
      case ColumnKind::Timestamp:
        target.cells = allocate_cells<std::int64_t>(array, rows);
        break;
      case ColumnKind::Float64:
        target.cells = allocate_cells<double>(array, rows);
        break;
      case ColumnKind::Date32:
        target.cells = allocate_cells<std::int32_t>(array, rows);
        break;
      case ColumnKind::Uuid:
        target.cells = allocate(ArrowArrayBuffer(array, 1), rows * UUID_BYTES);
        break;
      case ColumnKind::ChoiceInt64:
      case ColumnKind::ChoiceFloat64:
        target.cells = allocate_cells<std::uint64_t>(array, rows);
        break;
      case ColumnKind::ChoiceNull:
        break;
      case ColumnKind::Bool:
      case ColumnKind::ChoiceBool:
        target.cells = allocate_bitmap(ArrowArrayBuffer(array, 1), rows);
        break;
      case ColumnKind::ChoiceDictionary:
        target.cells = allocate_cells<std::int32_t>(array, rows);
        fill_dictionary(array, column.choice);
        break;
      case ColumnKind::ChoiceJson:
      case ColumnKind::Utf8:
      case ColumnKind::Json: {
        target.offsets = allocate_cells<std::int32_t>(array, rows + 1);
        target.offsets[0] = 0;
        target.text = ArrowArrayBuffer(array, 2);
        // Room for rows of a choice's average text, or of up to 32 bytes; the text grows by
        // doubling past that.
        const std::size_t average =
            column.kind == ColumnKind::ChoiceJson
                ? column.choice.text.size() / column.choice.count
                : static_cast<std::size_t>(std::min<std::uint64_t>(column.longest_text, 32));
        use_batch_allocator(target.text);
        check_arrow(ArrowBufferReserve(target.text, static_cast<std::int64_t>(rows * average)),
                    "ArrowBufferReserve");
        break;
      }
    }
    if (column.nullable && column.kind != ColumnKind::ChoiceNull) {
      target.validity = allocate_bitmap(&ArrowArrayValidityBitmap(array)->buffer, rows);
    }
  }
}

nanoarrow::UniqueArray BatchBuilder::finish() {
  if (added_ != rows_) {
    panic("batch finished with " + std::to_string(added_) + " of its " + std::to_string(rows_) +
          " rows");
  }
  const auto length = static_cast<std::int64_t>(rows_);
  batch_->length = length;
  batch_->null_count = 0;
  batch_->children[0]->length = length;
  batch_->children[0]->null_count = 0;
  for (std::size_t m = 0; m < schema_.columns.size(); ++m) {
    ArrowArray* array = batch_->children[m + 1];
    const Column& column = schema_.columns[m];
    const Target& target = targets_[column.spec];
    array->length = length;
    array->null_count = column.kind == ColumnKind::ChoiceNull ? length : target.nulls;
    if (target.validity != nullptr) {
      ArrowBitmap* bitmap = ArrowArrayValidityBitmap(array);
      if (target.nulls == 0) {
        ArrowBitmapReset(bitmap);  // all valid: readers need no bitmap
      } else {
        bitmap->size_bits = length;
      }
    }
  }
  ArrowError error{};
  check_arrow(ArrowArrayFinishBuildingDefault(batch_.get(), &error), "ArrowArrayFinishBuilding",
              &error);
  targets_.clear();
  ids_ = nullptr;
  return nanoarrow::UniqueArray(batch_.get());
}

}  // namespace

nanoarrow::UniqueArray build_column_block(std::uint64_t seed, std::uint64_t begin,
                                          std::uint64_t end, std::span<const AttrSpec> specs,
                                          const ColumnSchema& schema) {
  if (end < begin) panic("column block ends before it begins");
  BatchBuilder builder(schema, specs, seed, end - begin);
  for (std::uint64_t id = begin; id < end; ++id) builder.add(id);
  return builder.finish();
}

}  // namespace tessary
