// A streamed table: the entities of an id range as Arrow record batches, built in parallel and
// handed out in id order, with memory bounded by the batches in flight.
//
// Each block of the plan is one batch. Nothing is built before the first batch is asked for, so a
// sampler's failure surfaces with the batch that holds the lowest failing id. Panics are thrown
// without a report.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "columns/column_schema.h"
#include "nanoarrow/hpp/unique.hpp"
#include "pipeline/ordered_window.h"
#include "pipeline/prepared_specs.h"
#include "pipeline/range_plan.h"
#include "pool/collect_indexed.h"

namespace tessary {

// The cells of a default batch never take more than this, whatever the values drawn: a batch of
// scalar columns takes up to about half of it, and a batch of long JSON texts is cut to it.
inline constexpr std::uint64_t MAX_BATCH_BYTES = std::uint64_t{64} << 20;

// The rows of a batch when the caller does not choose: bounded work per batch (so that releasing
// a stream waits milliseconds), about a few hundred thousand rows of scalar specs, and no more
// rows than MAX_BATCH_BYTES of the schema's longest row, within what one batch of the schema can
// hold.
std::uint64_t default_batch_rows(std::span<const AttrSpec> specs, const ColumnSchema& schema);

class BatchStream {
 public:
  struct Batch {
    OrderedWindow::Status status = OrderedWindow::Status::End;
    nanoarrow::UniqueArray array;  // when Ready: the batch, a struct array
  };

  // Requires: `schema` was planned from these specs; start <= stop; 1 <= batch_rows <=
  // max_batch_rows(schema). Throws std::bad_alloc when memory runs out.
  BatchStream(std::shared_ptr<const PreparedSpecs> specs, ColumnSchema schema, std::uint64_t seed,
              std::uint64_t start, std::uint64_t stop, std::uint64_t batch_rows, WorkerPool& pool);
  ~BatchStream() = default;  // stops the window and waits for its batches first
  BatchStream(const BatchStream&) = delete;
  BatchStream& operator=(const BatchStream&) = delete;

  // The next batch in id order. Rethrows the first failure in batch order (the lowest failing
  // id's). One thread at a time; any thread that is not a worker of the pool.
  Batch next(const CollectControl& control = {});
  void cancel() noexcept { window_->cancel(); }

  const ColumnSchema& schema() const noexcept { return schema_; }

 private:
  const std::shared_ptr<const PreparedSpecs> specs_;
  const ColumnSchema schema_;
  const std::uint64_t seed_;
  const RangePlan plan_;
  std::vector<nanoarrow::UniqueArray> slots_;  // the batches of the window's slots
  std::unique_ptr<OrderedWindow> window_;  // last: it borrows everything above
};

}  // namespace tessary
