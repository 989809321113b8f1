#include "pipeline/batch_stream.h"

#include <algorithm>

#include "columns/column_block.h"
#include "records/panic.h"

namespace tessary {

std::uint64_t default_batch_rows(std::span<const AttrSpec> specs, const ColumnSchema& schema) {
  // A cell costs less than its text, so a batch may take four times a text block's work.
  const std::uint64_t rows = 4 * MAX_BLOCK_WORK / entity_work(specs);
  return std::clamp<std::uint64_t>(rows, 1, max_batch_rows(schema));
}

BatchStream::BatchStream(std::unique_ptr<const PreparedSpecs> specs, ColumnSchema schema,
                         std::uint64_t seed, std::uint64_t start, std::uint64_t stop,
                         std::uint64_t batch_rows, WorkerPool& pool)
    : specs_(std::move(specs)),
      schema_(std::move(schema)),
      seed_(seed),
      plan_(plan_fixed_blocks(start, stop, batch_rows)) {
  const std::size_t capacity = window_capacity(pool);
  slots_.resize(capacity);
  for (Slot& slot : slots_) slot.record = make_entity_record(specs_->layout);
  window_ = std::make_unique<OrderedWindow>(
      pool, plan_.count, capacity, [this](std::uint64_t block, std::size_t slot) {
        QuietPanics quiet;
        Slot& into = slots_[slot];
        into.array = build_column_block(seed_, block_begin(plan_, block), block_end(plan_, block),
                                        specs_->specs, schema_, into.record);
      });
}

BatchStream::Batch BatchStream::next(const CollectControl& control) {
  QuietPanics quiet;
  const OrderedWindow::Next next = window_->next(control);
  Batch batch;
  batch.status = next.status;
  if (next.status == OrderedWindow::Status::Ready) batch.array = std::move(slots_[next.slot].array);
  return batch;
}

}  // namespace tessary
