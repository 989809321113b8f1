// The range plan: how an id range [start, stop) is cut into contiguous blocks of entities.
//
// Every way out of the pipeline (one str, a stream of text, compressed frames, column batches)
// builds and hands on whole blocks, so the plan decides two things at once: how much work a
// cancelled call may still have to finish (a block is never interrupted), and, for streamed
// output, where compressed frames and batches begin. For streamed output the boundaries therefore
// depend only on the range, the specs and the kind of output, never on the thread count.
//
// Blocks are sized by the text of entity `start`, which the planner builds first on the calling
// thread (so a spec that fails for every entity fails before any work is handed out), and by the
// estimated work of one entity: a weighted pick scans its weights, so its cost grows with their
// number. Every block then takes at most a few milliseconds, whatever the specs. Entity `start`
// may be far shorter than others (a choice between "a" and a long text), so a block also holds no
// more entities than MAX_BLOCK_TEXT_BYTES of the longest text an entity can have, which the specs
// alone fix: whatever the values drawn, a block's text stays below MAX_BLOCK_TEXT_BYTES, or one
// entity where a single one may be longer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/assert.h"
#include "pipeline/prepared_specs.h"
#include "records/attr_spec.h"
#include "records/entity_record.h"

namespace tessary {

// A block's text should be large enough that the per-block costs (a job, a buffer, a copy)
// vanish. A streamed block costs more: the caller is woken for it, writes it and hands out the
// next, and a compressed frame starts afresh; so streamed blocks are larger.
inline constexpr std::size_t TARGET_BLOCK_BYTES = 128 * 1024;
inline constexpr std::size_t TARGET_STREAM_BLOCK_BYTES = 512 * 1024;
// The most text a block may hold whatever the values drawn, which bounds the memory of the blocks
// in flight.
inline constexpr std::uint64_t MAX_BLOCK_TEXT_BYTES = 4 * 1024 * 1024;

// A block does at most this much estimated work (one unit is about one scalar sample), so that a
// cancelled call, which stops between blocks, stops within milliseconds even where many specs
// write little text or a weighted pick scans millions of weights.
inline constexpr std::uint64_t MAX_BLOCK_WORK = std::uint64_t{1} << 18;

struct RangePlan {
  std::uint64_t start = 0;       // the first id
  std::uint64_t stop = 0;        // one past the last id
  std::uint64_t per_block = 1;   // ids per block; the last block may hold fewer
  std::uint64_t count = 1;       // number of blocks; an empty range has one empty block, so that
                                 // every output (the "[]" of an array, an empty frame) has one
  std::size_t entity_bytes = 0;  // text bytes of entity `start`, for reserving buffers
};

// The first id of block b and one past its last. Requires: b < plan.count.
inline std::uint64_t block_begin(const RangePlan& plan, std::uint64_t b) {
  TESSARY_ASSERT(b < plan.count);
  return plan.start + b * plan.per_block;  // b * per_block < stop - start: no overflow
}
inline std::uint64_t block_end(const RangePlan& plan, std::uint64_t b) {
  const std::uint64_t begin = block_begin(plan, b);
  return plan.stop - begin <= plan.per_block ? plan.stop : begin + plan.per_block;
}

// The estimated work of sampling one entity, in units of one scalar sample (at least 1).
std::uint64_t entity_work(std::span<const AttrSpec> specs);

// Plans [start, stop) (start <= stop) in blocks of about `block_bytes` of text, and never more
// than MAX_BLOCK_TEXT_BYTES (see above). `min_blocks` asks for at least that many blocks where the
// range has enough ids, to spread small ranges over the threads; pass constants for output whose
// boundaries must not depend on the machine. Builds entity `start` (when the range is not empty)
// with `record`, made for the specs' layout; its failure propagates (a Panic), as the lowest id's
// should.
RangePlan plan_range(std::uint64_t seed, std::uint64_t start, std::uint64_t stop,
                     const PreparedSpecs& prepared, EntityRecord& record, std::uint64_t min_blocks,
                     std::size_t block_bytes);

// Plans [start, stop) (start <= stop) in blocks of `per_block` ids (at least 1), for output whose
// blocks are sized by their caller (record batches of a given number of rows). Builds nothing.
RangePlan plan_fixed_blocks(std::uint64_t start, std::uint64_t stop, std::uint64_t per_block);

}  // namespace tessary
