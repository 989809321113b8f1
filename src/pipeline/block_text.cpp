#include "pipeline/block_text.h"

#include "sampling/build_entity.h"

namespace tessary {

void append_block_text(const RangePlan& plan, std::uint64_t b, TextFormat format,
                       std::uint64_t seed, std::span<const AttrSpec> specs,
                       const EntityKeys& keys, EntityRecord& record, OutputBuffer& out) {
  const std::uint64_t begin = block_begin(plan, b);
  const std::uint64_t end = block_end(plan, b);
  // Room for the block's entities as long as entity `start`'s, so that most blocks never grow.
  out.reserve((end - begin) * (plan.entity_bytes + 1) + 2);
  if (format == TextFormat::JsonLines) {
    for (std::uint64_t i = begin; i < end; ++i) {
      build_entity(seed, i, specs, record);
      write_entity(record, keys, out);
      out.push_back('\n');
    }
    return;
  }
  out.push_back(b == 0 ? '[' : ',');
  for (std::uint64_t i = begin; i < end; ++i) {
    if (i != begin) out.push_back(',');
    build_entity(seed, i, specs, record);
    write_entity(record, keys, out);
  }
  if (b + 1 == plan.count) out.push_back(']');
}

}  // namespace tessary
