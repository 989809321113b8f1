#include "columns/column_block.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "columns/arrow_status.h"
#include "generators/entities/build_entity.h"
#include "base/panic.h"

namespace tessary {
namespace {

std::size_t bitmap_bytes(std::size_t rows) {
  return (rows + 7) / 8;
}

// The allocator of a batch's buffers: as nanoarrow's own (realloc and free), except that buffers
// of at least a huge page are aligned to huge pages and marked for them. A batch's memory is
// fresh, and faulting it in 4 KiB pages costs more than filling it. Only whole huge pages are
// marked, so the tail of a buffer takes no more memory than it needs.
constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;

std::uint8_t* reallocate_batch_bytes(ArrowBufferAllocator*, std::uint8_t* bytes,
                                     std::int64_t old_size, std::int64_t new_size) {
  const auto size = static_cast<std::size_t>(new_size);
  if (size < HUGE_PAGE) return static_cast<std::uint8_t*>(std::realloc(bytes, size));
  void* fresh = nullptr;
  if (posix_memalign(&fresh, HUGE_PAGE, size) != 0) return nullptr;
  madvise(fresh, size / HUGE_PAGE * HUGE_PAGE, MADV_HUGEPAGE);  // only a hint: failure is harmless
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

// Packs n flags (0 or 1) into the bitmap from bit `row` on, whole bytes at a time; returns how
// many flags were 0. Requires: row is a multiple of 8.
std::size_t pack_bits(const std::uint8_t* flags, std::size_t n, std::uint8_t* bitmap,
                      std::size_t row) {
  std::uint8_t* out = bitmap + row / 8;
  std::size_t ones = 0;
  for (std::size_t i = 0; i < n; ++i) ones += flags[i];
  for (std::size_t i = 0; i < n; i += 8) {
    unsigned byte = 0;
    for (std::size_t j = 0; j < 8 && i + j < n; ++j) byte |= unsigned{flags[i + j]} << j;
    out[i / 8] = static_cast<std::uint8_t>(byte);
  }
  return n - ones;
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

// The value index of every staged value of a choice column. A value that is not one of the
// column's values means the record does not belong to the schema's specs: reading its cell would
// go out of bounds, so all are checked before any is used.
void choice_indexes(const AttributeValue* staged, std::size_t stride, std::size_t n,
                    const ChoiceCells& cells, std::size_t* indexes) {
  const auto base = reinterpret_cast<std::uintptr_t>(cells.values);
  const std::uintptr_t span = cells.count * sizeof(JsonValue);
  bool all_in_range = true;  // combined without branches: a failure is only ever reported
  for (std::size_t i = 0; i < n; ++i) {
    const AttributeValue& value = staged[i * stride];
    const std::uintptr_t offset = reinterpret_cast<std::uintptr_t>(value.borrowed) - base;
    all_in_range &= (value.kind == AttributeValue::Kind::Borrowed) & (offset < span);
    indexes[i] = offset / sizeof(JsonValue);
  }
  if (!all_in_range) [[unlikely]] {
    panic("entity record does not match its column schema");
  }
}

}  // namespace

BatchBuilder::BatchBuilder(const ColumnSchema& schema, std::size_t rows) : rows_(rows) {
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

  staged_.resize(STAGED_ROWS * columns);
  slots_.reserve(columns);
  for (std::size_t m = 0; m < columns; ++m) {
    const Column& column = schema.columns[m];
    ArrowArray* array = batch_->children[m + 1];
    check_arrow(ArrowArrayInitFromType(array, column_storage_type(column.kind)),
                "ArrowArrayInitFromType");
    Slot slot{column.kind, nullptr, nullptr, nullptr, nullptr, 0, &column.choice};
    switch (column.kind) {
      case ColumnKind::Int64:
      case ColumnKind::Float64:
      case ColumnKind::ChoiceInt64:
      case ColumnKind::ChoiceFloat64:
        slot.cells = allocate_cells<std::uint64_t>(array, rows);
        break;
      case ColumnKind::ChoiceNull:
        break;
      case ColumnKind::ChoiceBool:
        slot.cells = allocate(ArrowArrayBuffer(array, 1), bitmap_bytes(rows));
        break;
      case ColumnKind::ChoiceDictionary:
        slot.cells = allocate_cells<std::int32_t>(array, rows);
        fill_dictionary(array, column.choice);
        break;
      case ColumnKind::ChoiceJson: {
        slot.offsets = allocate_cells<std::int32_t>(array, rows + 1);
        slot.offsets[0] = 0;
        slot.text = ArrowArrayBuffer(array, 2);
        // Room for rows of average length; the text grows by doubling past that.
        const std::size_t average = column.choice.text.size() / column.choice.count;
        use_batch_allocator(slot.text);
        check_arrow(ArrowBufferReserve(slot.text, static_cast<std::int64_t>(rows * average)),
                    "ArrowBufferReserve");
        break;
      }
    }
    if (column.nullable && column.kind != ColumnKind::ChoiceNull) {
      slot.validity = static_cast<std::uint8_t*>(
          allocate(&ArrowArrayValidityBitmap(array)->buffer, bitmap_bytes(rows)));
    }
    slots_.push_back(slot);
  }
}

void BatchBuilder::append(const EntityRecord& record) {
  const std::size_t columns = slots_.size();
  if (appended_ >= rows_ || record.values.size() != columns) [[unlikely]] {
    panic("row appended to a full batch, or of another schema");
  }
  ids_[appended_] = record.id;
  // A few values: copied one by one, which beats a call of memcpy.
  AttributeValue* staged = staged_.data() + staged_rows_ * columns;
  const AttributeValue* values = record.values.data();
  for (std::size_t m = 0; m < columns; ++m) staged[m] = values[m];
  ++appended_;
  if (++staged_rows_ == STAGED_ROWS) flush();
}

void BatchBuilder::flush() {
  const std::size_t n = staged_rows_;
  const std::size_t row = appended_ - n;  // the first staged row: a multiple of STAGED_ROWS
  const std::size_t stride = slots_.size();
  std::uint8_t valid[STAGED_ROWS];
  std::size_t indexes[STAGED_ROWS];
  for (std::size_t m = 0; m < slots_.size(); ++m) {
    Slot& slot = slots_[m];
    const AttributeValue* staged = staged_.data() + m;  // value i at staged[i * stride]
    if (slot.kind == ColumnKind::Int64) {
      // Unsigned values of a uniform_int are below 2^63: both members hold the int64's bits.
      auto* cells = static_cast<std::int64_t*>(slot.cells) + row;
      for (std::size_t i = 0; i < n; ++i) cells[i] = staged[i * stride].i;
      continue;
    }
    if (slot.kind == ColumnKind::Float64) {
      auto* cells = static_cast<double*>(slot.cells) + row;
      for (std::size_t i = 0; i < n; ++i) {
        cells[i] = staged[i * stride].d;
        valid[i] = staged[i * stride].kind == AttributeValue::Kind::Double;
      }
      slot.nulls += pack_bits(valid, n, slot.validity, row);
      continue;
    }
    if (slot.kind == ColumnKind::ChoiceNull) continue;

    const ChoiceCells& cells = *slot.choice;
    choice_indexes(staged, stride, n, cells, indexes);
    switch (slot.kind) {
      case ColumnKind::ChoiceInt64:
      case ColumnKind::ChoiceFloat64: {
        auto* out = static_cast<std::uint64_t*>(slot.cells) + row;
        for (std::size_t i = 0; i < n; ++i) out[i] = cells.words[indexes[i]];
        break;
      }
      case ColumnKind::ChoiceBool:
        for (std::size_t i = 0; i < n; ++i) {
          valid[i] = static_cast<std::uint8_t>(cells.words[indexes[i]]);
        }
        pack_bits(valid, n, static_cast<std::uint8_t*>(slot.cells), row);
        break;
      case ColumnKind::ChoiceDictionary: {
        auto* out = static_cast<std::int32_t*>(slot.cells) + row;
        for (std::size_t i = 0; i < n; ++i) {
          out[i] = static_cast<std::int32_t>(cells.words[indexes[i]]);
        }
        break;
      }
      default:  // ChoiceJson
        for (std::size_t i = 0; i < n; ++i) {
          const std::int32_t start = cells.offsets[indexes[i]];
          check_arrow(ArrowBufferAppend(slot.text, cells.text.data() + start,
                                        cells.offsets[indexes[i] + 1] - start),
                      "ArrowBufferAppend");
          // At most max_batch_rows rows of the longest text: below 2^31.
          slot.offsets[row + i + 1] = static_cast<std::int32_t>(slot.text->size_bytes);
        }
        break;
    }
    if (slot.validity != nullptr) {
      for (std::size_t i = 0; i < n; ++i) valid[i] = cells.valid[indexes[i]];
      slot.nulls += pack_bits(valid, n, slot.validity, row);
    }
  }
  staged_rows_ = 0;
}

nanoarrow::UniqueArray BatchBuilder::finish() {
  if (appended_ != rows_) {
    panic("batch finished with " + std::to_string(appended_) + " of its " + std::to_string(rows_) +
          " rows");
  }
  flush();
  const auto length = static_cast<std::int64_t>(rows_);
  batch_->length = length;
  batch_->null_count = 0;
  batch_->children[0]->length = length;
  batch_->children[0]->null_count = 0;
  for (std::size_t m = 0; m < slots_.size(); ++m) {
    ArrowArray* array = batch_->children[m + 1];
    const Slot& slot = slots_[m];
    array->length = length;
    array->null_count = slot.kind == ColumnKind::ChoiceNull ? length : slot.nulls;
    if (slot.validity != nullptr) {
      ArrowBitmap* bitmap = ArrowArrayValidityBitmap(array);
      if (slot.nulls == 0) {
        ArrowBitmapReset(bitmap);  // all valid: readers need no bitmap
      } else {
        bitmap->size_bits = length;
      }
    }
  }
  ArrowError error{};
  check_arrow(ArrowArrayFinishBuildingDefault(batch_.get(), &error), "ArrowArrayFinishBuilding",
              &error);
  slots_.clear();
  ids_ = nullptr;
  return nanoarrow::UniqueArray(batch_.get());
}

nanoarrow::UniqueArray build_column_block(std::uint64_t seed, std::uint64_t begin,
                                          std::uint64_t end, std::span<const AttrSpec> specs,
                                          const ColumnSchema& schema, EntityRecord& record) {
  if (end < begin) panic("column block ends before it begins");
  BatchBuilder builder(schema, end - begin);
  for (std::uint64_t i = begin; i < end; ++i) {
    build_entity(seed, i, specs, record);
    builder.append(record);
  }
  return builder.finish();
}

}  // namespace tessary
