#include "columns/column_block.h"

#include <cstring>
#include <string>

#include "columns/arrow_status.h"
#include "generators/entities/build_entity.h"
#include "records/panic.h"

namespace tessary {
namespace {

std::size_t bitmap_bytes(std::size_t rows) {
  return (rows + 7) / 8;
}

// Gives `buffer` exactly `bytes` bytes, to be written by index; zeroed when asked (bitmaps).
void* allocate(ArrowBuffer* buffer, std::size_t bytes, bool zeroed) {
  check_arrow(ArrowBufferReserve(buffer, static_cast<std::int64_t>(bytes)), "ArrowBufferReserve");
  buffer->size_bytes = static_cast<std::int64_t>(bytes);
  if (zeroed && bytes != 0) std::memset(buffer->data, 0, bytes);
  return buffer->data;
}

template <typename T>
T* allocate_cells(ArrowArray* array, std::size_t rows) {
  return static_cast<T*>(allocate(ArrowArrayBuffer(array, 1), rows * sizeof(T), false));
}

void set_bit(std::uint8_t* bits, std::size_t row, bool value) {
  bits[row >> 3] |= static_cast<std::uint8_t>(static_cast<unsigned>(value) << (row & 7));
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

// The index of the choice value that `value` borrows. A value that is not one of the column's
// values means the record does not belong to the schema's specs: reading on would go out of bounds.
std::size_t choice_index(const AttributeValue& value, const ChoiceCells& cells) {
  const std::size_t index = (reinterpret_cast<std::uintptr_t>(value.borrowed) -
                             reinterpret_cast<std::uintptr_t>(cells.values)) /
                            sizeof(JsonValue);
  if (value.kind != AttributeValue::Kind::Borrowed || index >= cells.count) [[unlikely]] {
    panic("entity record does not match its column schema");
  }
  return index;
}

}  // namespace

BatchBuilder::BatchBuilder(const ColumnSchema& schema, std::size_t rows)
    : schema_(schema), rows_(rows) {
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
        slot.cells = allocate(ArrowArrayBuffer(array, 1), bitmap_bytes(rows), true);
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
        check_arrow(ArrowBufferReserve(slot.text, static_cast<std::int64_t>(rows * average)),
                    "ArrowBufferReserve");
        break;
      }
    }
    if (column.nullable && column.kind != ColumnKind::ChoiceNull) {
      slot.validity = static_cast<std::uint8_t*>(
          allocate(&ArrowArrayValidityBitmap(array)->buffer, bitmap_bytes(rows), true));
    }
    slots_.push_back(slot);
  }
}

void BatchBuilder::append(const EntityRecord& record) {
  if (appended_ >= rows_ || record.values.size() != slots_.size()) [[unlikely]] {
    panic("row appended to a full batch, or of another schema");
  }
  const std::size_t row = appended_;
  ids_[row] = record.id;
  const AttributeValue* values = record.values.data();
  for (std::size_t m = 0; m < slots_.size(); ++m) {
    Slot& slot = slots_[m];
    const AttributeValue& value = values[m];
    bool valid = true;
    switch (slot.kind) {
      case ColumnKind::Int64:
        // Unsigned values of a uniform_int are below 2^63: both members hold the int64's bits.
        static_cast<std::int64_t*>(slot.cells)[row] = value.i;
        break;
      case ColumnKind::Float64:
        static_cast<double*>(slot.cells)[row] = value.d;
        valid = value.kind == AttributeValue::Kind::Double;
        break;
      case ColumnKind::ChoiceNull:
        break;
      default: {
        const ChoiceCells& cells = *slot.choice;
        const std::size_t v = choice_index(value, cells);
        valid = cells.valid[v] != 0;
        switch (slot.kind) {
          case ColumnKind::ChoiceInt64:
          case ColumnKind::ChoiceFloat64:
            static_cast<std::uint64_t*>(slot.cells)[row] = cells.words[v];
            break;
          case ColumnKind::ChoiceBool:
            set_bit(static_cast<std::uint8_t*>(slot.cells), row, cells.words[v] != 0);
            break;
          case ColumnKind::ChoiceDictionary:
            static_cast<std::int32_t*>(slot.cells)[row] = static_cast<std::int32_t>(cells.words[v]);
            break;
          default: {  // ChoiceJson
            const std::int32_t start = cells.offsets[v];
            check_arrow(ArrowBufferAppend(slot.text, cells.text.data() + start,
                                          cells.offsets[v + 1] - start),
                        "ArrowBufferAppend");
            // At most max_batch_rows rows of the longest text: below 2^31.
            slot.offsets[row + 1] = static_cast<std::int32_t>(slot.text->size_bytes);
            break;
          }
        }
      }
    }
    if (slot.validity != nullptr) {
      set_bit(slot.validity, row, valid);
      slot.nulls += !valid;
    }
  }
  ++appended_;
}

nanoarrow::UniqueArray BatchBuilder::finish() {
  if (appended_ != rows_) {
    panic("batch finished with " + std::to_string(appended_) + " of its " + std::to_string(rows_) +
          " rows");
  }
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
