#include "pipeline/generate.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <span>
#include <string>

#include "base/uint128.h"
#include "output/json_writer.h"
#include "pipeline/block_text.h"
#include "pipeline/prepared_specs.h"
#include "pipeline/range_plan.h"
#include "pool/worker_pool.h"
#include "records/entity_record.h"
#include "base/panic.h"

namespace tessary {
namespace {

// Every thread gets several blocks to balance the load (the plan sizes them).
constexpr std::size_t BLOCKS_PER_THREAD = 4;

std::uint64_t saturate(Uint128 value) {
  return value > std::numeric_limits<std::uint64_t>::max()
             ? std::numeric_limits<std::uint64_t>::max()
             : static_cast<std::uint64_t>(value);
}

// The total count of decimal digits in the ids 0 .. end - 1.
Uint128 id_digits(std::uint64_t end) {
  Uint128 digits = 0;
  Uint128 low = 0, high = 10;  // ids of `width` digits are [low, high)
  for (int width = 1; width <= 20 && low < end; ++width) {
    const Uint128 stop = std::min<Uint128>(high, end);
    digits += (stop - low) * static_cast<Uint128>(width);
    low = high;
    high *= 10;
  }
  return digits;
}

// A lower bound of the text's length: every entity needs at least the shortest text of an
// entity object (entity_text_bounds) and its id's digits.
std::uint64_t shortest_output(std::uint64_t start, std::uint64_t stop, TextFormat format,
                              const PreparedSpecs& prepared) {
  const Uint128 per_entity = prepared.text_bounds.shortest;
  const std::uint64_t count = stop - start;
  // A newline after every line; or [ ] and the commas between entities.
  const Uint128 separators =
      format == TextFormat::JsonLines ? count : 2 + static_cast<Uint128>(count) - 1;
  return saturate(separators + per_entity * count + id_digits(stop) - id_digits(start));
}

// Builds the text of block b into its own buffer, reusing one record per block.
OutputBuffer build_block(const RangePlan& plan, std::uint64_t b, std::uint64_t seed,
                         TextFormat format, const PreparedSpecs& prepared) {
  OutputBuffer buffer;
  EntityRecord record = make_entity_record(prepared.layout);
  append_block_text(plan, b, format, seed, prepared.specs, prepared.keys, record, buffer);
  // The reservation was sized from entity 0 alone. When this block's entities turned out much
  // shorter, keep only what they need: every block is held until the text is assembled, and
  // thousands of mostly empty reservations would hold many times the text's size.
  if (buffer.capacity() / 2 > buffer.size()) {
    OutputBuffer fitted;
    fitted.append(buffer.view());
    return fitted;
  }
  return buffer;
}

// A range whose text is at most this long (judged by entity `start`'s) is one block, built on the
// calling thread: handing it to the pool would cost more than building it.
constexpr std::size_t CALLER_BLOCK_BYTES = 16 * 1024;

// generate_text, building a range of at most `caller_bytes` of text on the calling thread.
GenerateResult generate_blocks(const PreparedSpecs& prepared, std::uint64_t seed,
                               std::uint64_t start, std::uint64_t stop, TextFormat format,
                               const GenerateLimits& limits, const CollectControl& control,
                               std::size_t caller_bytes);

}  // namespace

void assemble_text(GeneratedText& text, char* destination) {
  // Copying into fresh memory costs mostly page faults; spread over the pool, they are paid in
  // parallel, and each block's memory goes back as soon as it is copied.
  std::vector<std::size_t> offsets(text.blocks.size());
  std::size_t offset = 0;
  for (std::size_t b = 0; b < text.blocks.size(); ++b) {
    offsets[b] = offset;
    offset += text.blocks[b]->size();
  }
  std::vector<unsigned char> copied(text.blocks.size());
  collect_indexed(
      global_pool(), text.blocks.size(),
      [&](std::size_t b) -> unsigned char {
        std::memcpy(destination + offsets[b], text.blocks[b]->data(), text.blocks[b]->size());
        text.blocks[b].reset();
        return 1;
      },
      std::span<unsigned char>(copied));
}

GenerateResult generate_text(const PreparedSpecs& prepared, std::uint64_t seed, std::uint64_t start,
                             std::uint64_t stop, TextFormat format, const GenerateLimits& limits,
                             const CollectControl& control) {
  return generate_blocks(prepared, seed, start, stop, format, limits, control, CALLER_BLOCK_BYTES);
}

namespace {

GenerateResult generate_blocks(const PreparedSpecs& prepared, std::uint64_t seed,
                               std::uint64_t start, std::uint64_t stop, TextFormat format,
                               const GenerateLimits& limits, const CollectControl& control,
                               std::size_t caller_bytes) {
  WorkerPool& pool = global_pool();  // created by the first call of the process, also for 0
  if (start == stop) {
    GeneratedText text;
    text.blocks.emplace_back(std::in_place);
    if (format == TextFormat::JsonArray) text.blocks.back()->append("[]", 2);
    text.length = text.blocks.back()->size();
    return text;
  }

  // Refuse at once an output that cannot fit, instead of failing after hours of work.
  const std::uint64_t needed = shortest_output(start, stop, format, prepared);
  if (needed > limits.max_text_bytes)
    return OutputTooLarge{needed, limits.max_text_bytes, "the largest string"};
  if (limits.memory_bytes != 0 && needed > limits.memory_bytes) {
    return OutputTooLarge{needed, limits.memory_bytes, "physical memory"};
  }

  // Entity `start` is built first, on this thread: if it fails, that failure is the one to report.
  EntityRecord first = make_entity_record(prepared.layout);
  RangePlan plan = plan_range(seed, start, stop, prepared, first,
                              pool.thread_count() * BLOCKS_PER_THREAD, TARGET_BLOCK_BYTES);
  GeneratedText text;
  const std::uint64_t ids = stop - start;
  if (ids <= caller_bytes / (plan.entity_bytes + 1) &&
      ids <= MAX_BLOCK_WORK / entity_work(prepared.specs)) {
    plan = plan_fixed_blocks(start, stop, ids);
    text.blocks.push_back(build_block(plan, 0, seed, format, prepared));
  } else {
    const std::size_t count = static_cast<std::size_t>(plan.count);
    text.blocks.resize(count);
    const CollectResult collected = collect_indexed(
        pool, count, [&](std::size_t b) { return build_block(plan, b, seed, format, prepared); },
        std::span<std::optional<OutputBuffer>>(text.blocks), control);
    if (collected.cancelled) return Cancelled{};
    if (collected.filled != count) {
      const std::uint64_t written = std::min<std::uint64_t>(ids, collected.filled * plan.per_block);
      panic("expected " + std::to_string(ids) + " total writes, but got " +
            std::to_string(written));
    }
  }
  text.ascii = prepared.text_bounds.ascii;
  for (const std::optional<OutputBuffer>& block : text.blocks) text.length += block->size();
  return text;
}

}  // namespace

GenerateResult generate_entities(std::uint64_t seed, std::uint64_t scale,
                                 std::string_view specs_json, const GenerateLimits& limits,
                                 const CollectControl& control) {
  // tessary._core reads the original language, whatever kinds the package has added since.
  auto read = prepare_original_specs(specs_json);
  if (ReadError* error = std::get_if<ReadError>(&read)) return std::move(*error);
  const PreparedSpecs& prepared = *std::get<std::shared_ptr<const PreparedSpecs>>(read);

  // A count for which a list of one record per entity could not be addressed panics with "capacity
  // overflow" at once, before the output's size is estimated and before entity 0 is built. The
  // text is built block by block and never holds such a list; for such counts this function fails
  // with a panic, not with the MemoryError of the size check.
  if (scale > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()) /
                  sizeof(EntityRecord)) {
    global_pool();
    panic("capacity overflow");
  }
  // Every block goes to the pool, however small the call, so that the report on standard error of
  // any failure past entity 0 names a worker thread, whatever the count.
  return generate_blocks(prepared, seed, 0, scale, TextFormat::JsonArray, limits, control, 0);
}

}  // namespace tessary
