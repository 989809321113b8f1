// A streamed text: the JSON or JSON Lines text of an id range, block by block, in order, each
// block optionally compressed into one gzip member or zstd frame on the worker that built it.
//
// Memory is bounded by the window of blocks in flight, whatever the range. Block boundaries come
// from the range plan with a fixed minimum block count, so they depend on the range, the specs and
// the format only: compressed bytes are the same for any thread count. Panics are thrown without a
// report (the streaming functions hand every failure to their caller).
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "compression/frame_compressor.h"
#include "output/output_buffer.h"
#include "pipeline/block_text.h"
#include "pipeline/ordered_window.h"
#include "pipeline/prepared_specs.h"
#include "pipeline/range_plan.h"
#include "pool/collect_indexed.h"
#include "records/entity_record.h"

namespace tessary {

// Streamed output is cut into at least this many blocks where the range allows, so that small
// ranges still spread over the threads; a constant, so that boundaries do not depend on them.
inline constexpr std::uint64_t STREAM_MIN_BLOCKS = 64;

struct TextStreamOptions {
  TextFormat format = TextFormat::JsonLines;
  Compression compression = Compression::None;
  int level = 0;            // used when compressing; see level_error
  std::uint64_t start = 0;  // the ids [start, stop)
  std::uint64_t stop = 0;
};

class TextStream {
 public:
  struct Chunk {
    OrderedWindow::Status status = OrderedWindow::Status::End;
    std::string_view text;     // the block's text
    std::string_view bytes;    // what goes out: the text, or its compressed member
    std::uint64_t entities = 0;  // ids in the block
  };

  // Requires: options.start <= options.stop, and a valid level when compressing. Plans the range,
  // which builds entity `start` on this thread: a spec that fails for every entity panics here,
  // before any work is handed out. Throws std::bad_alloc when memory runs out.
  TextStream(std::shared_ptr<const PreparedSpecs> specs, std::uint64_t seed,
             const TextStreamOptions& options, WorkerPool& pool);
  ~TextStream() = default;  // stops the window and waits for its blocks first
  TextStream(const TextStream&) = delete;
  TextStream& operator=(const TextStream&) = delete;

  // The next block, when status is Ready; its views stay valid until the next call. Rethrows the
  // first failure in block order (the lowest failing id) as OrderedWindow::next does.
  Chunk next(const CollectControl& control = {});
  void cancel() noexcept { window_->cancel(); }

  const RangePlan& plan() const noexcept { return plan_; }
  const TextStreamOptions& options() const noexcept { return options_; }

 private:
  struct Slot {
    EntityRecord record;
    OutputBuffer text;
    OutputBuffer compressed;
    std::unique_ptr<FrameCompressor> compressor;
  };

  void build(std::uint64_t block, Slot& slot) const;

  const std::shared_ptr<const PreparedSpecs> specs_;
  const std::uint64_t seed_;
  const TextStreamOptions options_;
  RangePlan plan_;
  std::vector<Slot> slots_;
  std::unique_ptr<OrderedWindow> window_;  // last: it borrows everything above
};

}  // namespace tessary
