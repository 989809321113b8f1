#include "generators/entities/generate.h"

#include <unistd.h>

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

// The total count of decimal digits in the ids 0 .. scale - 1.
Uint128 id_digits(std::uint64_t scale) {
  Uint128 digits = 0;
  Uint128 low = 0, high = 10;  // ids of `width` digits are [low, high)
  for (int width = 1; width <= 20 && low < scale; ++width) {
    const Uint128 end = std::min<Uint128>(high, scale);
    digits += (end - low) * static_cast<Uint128>(width);
    low = high;
    high *= 10;
  }
  return digits;
}

// A lower bound of the output's length: every entity needs at least the shortest text of an
// entity object (entity_text_bounds) and its id's digits.
std::uint64_t shortest_output(std::uint64_t scale, const PreparedSpecs& prepared) {
  const Uint128 per_entity = prepared.text_bounds.shortest;
  // [ ] and the commas between entities.
  const Uint128 separators = 2 + static_cast<Uint128>(scale) - 1;
  return saturate(separators + per_entity * scale + id_digits(scale));
}

bool is_ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool is_ascii(const JsonValue& value) {
  if (const auto* text = std::get_if<std::string>(&value.data)) return is_ascii(*text);
  if (const auto* array = std::get_if<JsonArray>(&value.data)) {
    return std::all_of(array->begin(), array->end(),
                       [](const JsonValue& v) { return is_ascii(v); });
  }
  if (const auto* object = std::get_if<JsonObject>(&value.data)) {
    return std::all_of(object->begin(), object->end(),
                       [](const JsonMember& m) { return is_ascii(m.key) && is_ascii(m.value); });
  }
  return true;
}

// Every byte of the output is ASCII unless a name or a text inside a choice is not.
bool output_is_ascii(std::span<const AttrSpec> specs) {
  return std::all_of(specs.begin(), specs.end(), [](const AttrSpec& spec) {
    if (!is_ascii(spec.name)) return false;
    const Choice* choice = std::get_if<Choice>(&spec.kind);
    return choice == nullptr || std::all_of(choice->values.begin(), choice->values.end(),
                                            [](const JsonValue& v) { return is_ascii(v); });
  });
}

// Builds the text of block b into its own buffer, reusing one record per block.
OutputBuffer build_block(const RangePlan& plan, std::uint64_t b, std::uint64_t seed,
                         const PreparedSpecs& prepared) {
  OutputBuffer buffer;
  EntityRecord record = make_entity_record(prepared.layout);
  append_block_text(plan, b, TextFormat::JsonArray, seed, prepared.specs, prepared.keys, record,
                    buffer);
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

std::uint64_t physical_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return saturate(static_cast<Uint128>(pages) * static_cast<Uint128>(page_size));
}

GenerateResult generate_entities(std::uint64_t seed, std::uint64_t scale,
                                 std::string_view specs_json, const GenerateLimits& limits,
                                 const CollectControl& control) {
  auto read = prepare_specs(specs_json);
  if (ReadError* error = std::get_if<ReadError>(&read)) return std::move(*error);
  const PreparedSpecs& prepared = *std::get<std::unique_ptr<const PreparedSpecs>>(read);

  WorkerPool& pool = global_pool();  // created by the first call of the process, also for 0
  if (scale == 0) {
    GeneratedText text;
    text.blocks.emplace_back(std::in_place);
    text.blocks.back()->append("[]", 2);
    text.length = 2;
    return text;
  }

  // A count for which a list of one record per entity could not be addressed panics with "capacity
  // overflow" at once, before the output's size is estimated and before entity 0 is built. The
  // text is built block by block and never holds such a list; the check keeps the call's failure
  // for such counts what it has always been (a panic, not the MemoryError of the size check).
  if (scale > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()) /
                  sizeof(EntityRecord)) {
    panic("capacity overflow");
  }

  // Refuse at once an output that cannot fit, instead of failing after hours of work.
  const std::uint64_t needed = shortest_output(scale, prepared);
  if (needed > limits.max_text_bytes)
    return OutputTooLarge{needed, limits.max_text_bytes, "the largest string"};
  if (limits.memory_bytes != 0 && needed > limits.memory_bytes) {
    return OutputTooLarge{needed, limits.memory_bytes, "physical memory"};
  }

  // Entity 0 is built first, on this thread: if it fails, that failure is the one to report.
  EntityRecord first = make_entity_record(prepared.layout);
  const RangePlan plan = plan_range(seed, 0, scale, prepared, first,
                                    pool.thread_count() * BLOCKS_PER_THREAD, TARGET_BLOCK_BYTES);
  const std::size_t count = static_cast<std::size_t>(plan.count);
  GeneratedText text;
  text.blocks.resize(count);
  const CollectResult collected = collect_indexed(
      pool, count, [&](std::size_t b) { return build_block(plan, b, seed, prepared); },
      std::span<std::optional<OutputBuffer>>(text.blocks), control);
  if (collected.cancelled) return Cancelled{};
  if (collected.filled != count) {
    const std::uint64_t written = std::min<std::uint64_t>(scale, collected.filled * plan.per_block);
    panic("expected " + std::to_string(scale) + " total writes, but got " +
          std::to_string(written));
  }

  text.ascii = output_is_ascii(prepared.specs);
  for (const std::optional<OutputBuffer>& block : text.blocks) text.length += block->size();
  return text;
}

}  // namespace tessary
