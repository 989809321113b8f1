#include "pipeline/text_stream.h"

#include "base/panic.h"

namespace tessary {

TextStream::TextStream(std::shared_ptr<const PreparedSpecs> specs, std::uint64_t seed,
                       const TextStreamOptions& options, WorkerPool& pool)
    : specs_(std::move(specs)), seed_(seed), options_(options) {
  QuietPanics quiet;
  EntityRecord first = make_entity_record(specs_->layout);
  plan_ = plan_range(seed_, options_.start, options_.stop, *specs_, first, STREAM_MIN_BLOCKS,
                     TARGET_STREAM_BLOCK_BYTES);
  const std::size_t capacity = window_capacity(pool);
  slots_.resize(capacity);
  for (Slot& slot : slots_) {
    slot.record = make_entity_record(specs_->layout);
    if (options_.compression != Compression::None) {
      slot.compressor = std::make_unique<FrameCompressor>(options_.compression, options_.level);
    }
  }
  window_ = std::make_unique<OrderedWindow>(
      pool, plan_.count, capacity,
      [this](std::uint64_t block, std::size_t slot) { build(block, slots_[slot]); });
}

void TextStream::build(std::uint64_t block, Slot& slot) const {
  QuietPanics quiet;
  slot.text.clear();
  append_block_text(plan_, block, options_.format, seed_, specs_->specs, specs_->keys, slot.record,
                    slot.text);
  if (slot.compressor) slot.compressor->compress(slot.text.view(), slot.compressed);
}

TextStream::Chunk TextStream::next(const CollectControl& control) {
  QuietPanics quiet;
  const OrderedWindow::Next next = window_->next(control);
  Chunk chunk;
  chunk.status = next.status;
  if (next.status != OrderedWindow::Status::Ready) return chunk;
  const Slot& slot = slots_[next.slot];
  chunk.text = slot.text.view();
  chunk.bytes = slot.compressor ? slot.compressed.view() : chunk.text;
  chunk.entities = block_end(plan_, next.block) - block_begin(plan_, next.block);
  return chunk;
}

}  // namespace tessary
