#include "pipeline/batch_stream.h"

#include <algorithm>

#include "columns/column_block.h"
#include "base/panic.h"

namespace tessary {

std::uint64_t default_batch_rows(std::span<const AttrSpec> specs, const ColumnSchema& schema) {
  // A cell costs a fraction of its text, so a batch may take several times a text block's work:
  // a batch of scalar specs then has some 2^18 rows or more. Such a batch is cut down to whole
  // huge pages of its 8-byte columns: on a 2-core machine, 10^7 rows of five scalar specs in
  // batches of 2^18 + 17% rows took 2.8 times the system time of batches of 2^18 rows, the
  // partly used huge pages being faulted in 4 KiB pages.
  std::uint64_t rows = 8 * MAX_BLOCK_WORK / entity_work(specs);
  rows = std::min(rows, MAX_BATCH_BYTES / longest_row_bytes(schema));
  if (rows > HUGE_PAGE_ROWS) rows -= rows % HUGE_PAGE_ROWS;
  return std::clamp<std::uint64_t>(rows, 1, max_batch_rows(schema));
}

BatchStream::BatchStream(std::shared_ptr<const PreparedSpecs> specs, ColumnSchema schema,
                         std::uint64_t seed, std::uint64_t start, std::uint64_t stop,
                         std::uint64_t batch_rows, WorkerPool& pool)
    : specs_(std::move(specs)),
      schema_(std::move(schema)),
      seed_(seed),
      plan_(plan_fixed_blocks(start, stop, batch_rows)) {
  const std::size_t capacity = window_capacity(pool);
  slots_.resize(capacity);
  window_ = std::make_unique<OrderedWindow>(
      pool, plan_.count, capacity, [this](std::uint64_t block, std::size_t slot) {
        QuietPanics quiet;
        slots_[slot] = build_column_block(seed_, block_begin(plan_, block),
                                          block_end(plan_, block), specs_->specs, schema_);
      });
}

BatchStream::Batch BatchStream::next(const CollectControl& control) {
  QuietPanics quiet;
  const OrderedWindow::Next next = window_->next(control);
  Batch batch;
  batch.status = next.status;
  if (next.status == OrderedWindow::Status::Ready) batch.array = std::move(slots_[next.slot]);
  return batch;
}

}  // namespace tessary
