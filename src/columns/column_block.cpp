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


// Whether the column holds the values of this spec: a schema planned from other specs would send
// values to cells of another type, or index a choice table out of bounds.
bool column_fits_spec(const Column& column, const AttrSpec& spec) {
  return std::visit([&]<class K>(const K& params) { return K::fits_column(params, column); },
                    spec.kind);
}

// One batch being filled, row after row in id order.
class BatchBuilder {
 public:
  BatchBuilder(const ColumnSchema& schema, std::span<const AttrSpec> specs, std::size_t rows);

  // Samples entity `id` into the next row. Requires: fewer than `rows` rows added so far.
  void add(std::uint64_t seed, std::uint64_t id) {
    TESSARY_ASSERT(added_ < rows_);
    const std::size_t row = added_++;
    ids_[row] = id;
    sample_entity(seed, id, targets_.size(), [this, row](std::size_t k, Xoshiro256PlusPlus& rng) {
      sample_into(targets_[k], row, rng);
    });
  }

  // Requires: all rows added. The builder is empty afterwards.
  nanoarrow::UniqueArray finish();

 private:
  // How an attribute's value is drawn and where it goes. One dispatch per attribute and row, on
  // its kind, picks the draw; the type of the value it gives picks the cell (an int64, a double
  // with its validity bit, or a choice's cell by the column's kind). A value is dropped when its
  // name's column holds a later attribute's values or is of the null type (the attribute still
  // draws, through its sampler).
  static constexpr std::uint8_t DROP = KIND_COUNT;

  // Everything an attribute's value needs on its way into its cell, at hand in one place.
  struct Target {
    std::uint8_t kind = DROP;  // the attribute's kind (its index in AttrKind), or DROP
    ColumnKind column = ColumnKind::ChoiceNull;
    const AttrSpec* spec = nullptr;
    // The attribute's prepared draw, in the slot of its kind: its parameters were checked once
    // for the batch.
    AnyDraw draw;
    std::uint8_t* validity = nullptr;  // null when the column has no nulls to mark
    void* cells = nullptr;             // int64, double or int32 cells, or the bits of a bool column
    std::int32_t* offsets = nullptr;   // JSON text: rows + 1 offsets into `text`
    ArrowBuffer* text = nullptr;       // JSON text
    const std::uint64_t* words = nullptr;   // a choice's cells (ChoiceCells)
    const std::uint8_t* valid = nullptr;
    const ChoiceCells* choice = nullptr;
    std::int64_t nulls = 0;
  };

  static void mark_validity(Target& target, std::size_t row, bool valid) {
    target.nulls += !valid;
    set_bit(target.validity, row, valid);
  }

  [[gnu::always_inline]] static void store(Target& target, std::size_t row, std::int64_t value) {
    static_cast<std::int64_t*>(target.cells)[row] = value;
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

  // Draws the target's attribute from `rng` into row `row`, with the draws the samplers are made
  // of: every attribute's parameters were found usable when the builder was made. One test of
  // the kind per kind in list order (as sample_attribute), the dropped values last.
  template <std::size_t I = 0>
  [[gnu::always_inline]] static void sample_into(Target& target, std::size_t row,
                                                 Xoshiro256PlusPlus& rng) {
    if constexpr (I == DROP) {
      sample_attribute(*target.spec, rng);
    } else {
      using Kind = std::variant_alternative_t<I, AttrKind>;
      if (target.kind == I) {
        store(target, row, Kind::draw(target.draw.get<Kind>(), rng));
        return;
      }
      sample_into<I + 1>(target, row, rng);
    }
  }

  const ColumnSchema& schema_;
  std::size_t rows_;
  std::size_t added_ = 0;
  nanoarrow::UniqueArray batch_;
  std::uint64_t* ids_ = nullptr;
  std::vector<Target> targets_;  // targets_[k] for attribute k
};

BatchBuilder::BatchBuilder(const ColumnSchema& schema, std::span<const AttrSpec> specs,
                           std::size_t rows)
    : schema_(schema), rows_(rows), targets_(specs.size()) {
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
    check_arrow(ArrowArrayInitFromType(array, column_storage_type(column.kind)),
                "ArrowArrayInitFromType");
    Target& target = targets_[column.spec];
    target.column = column.kind;
    if (column.kind != ColumnKind::ChoiceNull) {  // a column of nulls stores nothing
      std::visit(
          [&target]<class K>(const K& params) {
            target.kind = kind_index<K>();
            // Else the batch has no rows to sample.
            if (K::fault(params) == ParamFault::None) target.draw.set<K>(K::prepare(params));
          },
          target.spec->kind);
    }
    target.words = column.choice.words.data();
    target.valid = column.choice.valid.data();
    target.choice = &column.choice;
    switch (column.kind) {
      case ColumnKind::Int64:
        target.cells = allocate_cells<std::int64_t>(array, rows);
        break;
      case ColumnKind::Float64:
        target.cells = allocate_cells<double>(array, rows);
        break;
      case ColumnKind::ChoiceInt64:
      case ColumnKind::ChoiceFloat64:
        target.cells = allocate_cells<std::uint64_t>(array, rows);
        break;
      case ColumnKind::ChoiceNull:
        break;
      case ColumnKind::ChoiceBool:
        target.cells = allocate_bitmap(ArrowArrayBuffer(array, 1), rows);
        break;
      case ColumnKind::ChoiceDictionary:
        target.cells = allocate_cells<std::int32_t>(array, rows);
        fill_dictionary(array, column.choice);
        break;
      case ColumnKind::ChoiceJson: {
        target.offsets = allocate_cells<std::int32_t>(array, rows + 1);
        target.offsets[0] = 0;
        target.text = ArrowArrayBuffer(array, 2);
        // Room for rows of average length; the text grows by doubling past that.
        const std::size_t average = column.choice.text.size() / column.choice.count;
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
  // An attribute whose parameters cannot be sampled fails every entity. The batch's first entity
  // then fails as sampling its attributes one by one does (an earlier attribute's pick may fail
  // first), and the builder's checked-once draws never see such parameters.
  const auto unusable = [](const AttrSpec& spec) {
    return param_fault(spec.kind) != ParamFault::None;
  };
  if (begin < end && std::any_of(specs.begin(), specs.end(), unusable)) {
    sample_entity(seed, begin, specs.size(), [specs](std::size_t k, Xoshiro256PlusPlus& rng) {
      sample_attribute(specs[k], rng);
    });
    panic("an attribute that cannot be sampled did not fail");
  }
  BatchBuilder builder(schema, specs, end - begin);
  for (std::uint64_t id = begin; id < end; ++id) builder.add(seed, id);
  return builder.finish();
}

}  // namespace tessary
