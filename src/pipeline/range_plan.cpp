#include "pipeline/range_plan.h"

#include <algorithm>

#include "output/json_writer.h"
#include "output/number_text.h"
#include "sampling/build_entity.h"
#include "output/output_buffer.h"

namespace tessary {

std::uint64_t entity_work(std::span<const AttrSpec> specs) {
  std::uint64_t work = 0;
  for (const AttrSpec& spec : specs) work += attribute_work(spec);
  return std::max<std::uint64_t>(1, work);
}

RangePlan plan_range(std::uint64_t seed, std::uint64_t start, std::uint64_t stop,
                     const PreparedSpecs& prepared, EntityRecord& record, std::uint64_t min_blocks,
                     std::size_t block_bytes) {
  RangePlan plan;
  plan.start = start;
  plan.stop = stop;
  const std::uint64_t ids = stop - start;
  if (ids == 0) return plan;
  build_entity(seed, start, prepared.specs, record);
  OutputBuffer first;
  write_entity(record, prepared.keys, first);
  plan.entity_bytes = first.size();
  // Later ids may carry more digits than entity `start`'s: allow for the widest id (20 digits)
  // and the separator.
  const std::size_t widest_entity = first.size() + 1 + U64_TEXT_CAPACITY;
  const std::uint64_t longest_entity = prepared.text_bounds.longest + 1 + U64_TEXT_CAPACITY;

  std::uint64_t per_block = std::max<std::size_t>(1, block_bytes / widest_entity);
  per_block = std::min(per_block, std::max<std::uint64_t>(1, MAX_BLOCK_TEXT_BYTES / longest_entity));
  per_block = std::min(per_block, std::max<std::uint64_t>(1, MAX_BLOCK_WORK / entity_work(prepared.specs)));
  const std::uint64_t wanted = std::max<std::uint64_t>(1, min_blocks);
  per_block = std::max<std::uint64_t>(1, std::min(per_block, ids / wanted + (ids % wanted != 0)));
  plan.per_block = per_block;
  plan.count = ids / per_block + (ids % per_block != 0);
  return plan;
}

RangePlan plan_fixed_blocks(std::uint64_t start, std::uint64_t stop, std::uint64_t per_block) {
  RangePlan plan;
  plan.start = start;
  plan.stop = stop;
  plan.per_block = std::max<std::uint64_t>(1, per_block);
  const std::uint64_t ids = stop - start;
  if (ids != 0) plan.count = ids / plan.per_block + (ids % plan.per_block != 0);
  return plan;
}

}  // namespace tessary
