#include "generators/entities/generate.h"

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <span>
#include <string>

#include "generators/entities/build_entity.h"
#include "output/json_writer.h"
#include "pool/worker_pool.h"
#include "records/entity_record.h"
#include "records/panic.h"
#include "specs/read_specs.h"

namespace tessary {
namespace {

// Block sizing: each block's text should be large enough that the per-block costs (a task, a
// buffer, a copy) vanish, small enough that every thread gets several blocks to balance load.
constexpr std::size_t TARGET_BLOCK_BYTES = 128 * 1024;
constexpr std::size_t BLOCKS_PER_THREAD = 4;

using u128 = unsigned __int128;

std::uint64_t saturate(u128 value) {
  return value > std::numeric_limits<std::uint64_t>::max()
             ? std::numeric_limits<std::uint64_t>::max()
             : static_cast<std::uint64_t>(value);
}

// The exact text length of a value, measured by writing it once.
std::size_t text_length_of(const JsonValue& value) {
  OutputBuffer scratch;
  write_value(value, scratch);
  return scratch.size();
}

// The fewest bytes any value of an attribute spec can take as text.
std::size_t shortest_value_text(const AttrSpec& spec) {
  if (const Choice* choice = std::get_if<Choice>(&spec.kind)) {
    if (choice->values.empty()) return 4;  // null
    std::size_t shortest = std::numeric_limits<std::size_t>::max();
    for (const JsonValue& value : choice->values)
      shortest = std::min(shortest, text_length_of(value));
    return shortest;
  }
  if (std::holds_alternative<UniformInt>(spec.kind)) return 1;  // one digit
  return 3;                                                     // "0.0" is the shortest double
}

// The total count of decimal digits in the ids 0 .. scale - 1.
u128 id_digits(std::uint64_t scale) {
  u128 digits = 0;
  u128 low = 0, high = 10;  // ids of `width` digits are [low, high)
  for (int width = 1; width <= 20 && low < scale; ++width) {
    const u128 end = std::min<u128>(high, scale);
    digits += (end - low) * static_cast<u128>(width);
    low = high;
    high *= 10;
  }
  return digits;
}

// A lower bound of the output's length: every entity needs at least {"id":N} and, per member,
// ,"name": (as the prepared keys hold it) and the shortest value text its last spec can give.
std::uint64_t shortest_output(std::uint64_t scale, std::span<const AttrSpec> specs,
                              const EntityLayout& layout, const EntityKeys& keys) {
  std::vector<std::size_t> member_bytes(layout.member_names.size(), 0);
  for (std::size_t k = 0; k < specs.size(); ++k) {
    member_bytes[layout.member_of_spec[k]] = shortest_value_text(specs[k]);  // the last spec wins
  }
  u128 per_entity = 7;  // {"id": and }
  for (std::size_t m = 0; m < member_bytes.size(); ++m) {
    const std::size_t key_start = m == 0 ? 0 : keys.ends[m - 1];
    per_entity += (keys.ends[m] - key_start) + member_bytes[m];
  }
  const u128 separators = 2 + static_cast<u128>(scale) - 1;  // [ ] and the commas between entities
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

struct BlockPlan {
  std::uint64_t scale;
  std::uint64_t per_block;    // entities per block (the last block may hold fewer)
  std::size_t count;          // number of blocks
  std::size_t reserve_bytes;  // initial buffer capacity of a full block
};

// Sizes the blocks from the text of entity 0, which is built here on the calling thread. If it
// fails, that failure is the right one to report: entity 0 is the lowest index.
BlockPlan plan_blocks(std::uint64_t seed, std::uint64_t scale, std::span<const AttrSpec> specs,
                      const EntityLayout& layout, const EntityKeys& keys, std::size_t threads) {
  EntityRecord record = make_entity_record(layout);
  build_entity(seed, 0, specs, record);
  OutputBuffer first;
  write_entity(record, keys, first);
  // Later ids carry more digits than "0": allow for the widest id.
  const std::size_t entity_bytes = first.size() + 1 + 19;

  std::uint64_t per_block = std::max<std::size_t>(1, TARGET_BLOCK_BYTES / entity_bytes);
  const std::uint64_t samples_per_entity = std::max<std::size_t>(1, specs.size());
  per_block =
      std::min(per_block, std::max<std::uint64_t>(1, MAX_BLOCK_SAMPLES / samples_per_entity));
  const std::uint64_t wanted_blocks = static_cast<std::uint64_t>(threads) * BLOCKS_PER_THREAD;
  per_block =
      std::max<std::uint64_t>(1, std::min(per_block, (scale + wanted_blocks - 1) / wanted_blocks));
  const std::uint64_t count = (scale + per_block - 1) / per_block;
  return {scale, per_block, static_cast<std::size_t>(count),
          static_cast<std::size_t>(per_block * (first.size() + 1) + 2)};
}

// Builds and writes the entities of block b into its own buffer, reusing one record.
OutputBuffer build_block(const BlockPlan& plan, std::size_t b, std::uint64_t seed,
                         std::span<const AttrSpec> specs, const EntityLayout& layout,
                         const EntityKeys& keys) {
  const std::uint64_t begin = b * plan.per_block;
  const std::uint64_t end = std::min(plan.scale, begin + plan.per_block);
  OutputBuffer buffer;
  buffer.reserve(plan.reserve_bytes);
  EntityRecord record = make_entity_record(layout);
  buffer.append(b == 0 ? "[" : ",", 1);
  for (std::uint64_t i = begin; i < end; ++i) {
    if (i != begin) buffer.append(",", 1);
    build_entity(seed, i, specs, record);
    write_entity(record, keys, buffer);
  }
  if (end == plan.scale) buffer.append("]", 1);
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
  return saturate(static_cast<u128>(pages) * static_cast<u128>(page_size));
}

GenerateResult generate_entities(std::uint64_t seed, std::uint64_t scale,
                                 std::string_view specs_json, const GenerateLimits& limits,
                                 const CollectControl& control) {
  auto read = read_specs(specs_json);
  if (ReadError* error = std::get_if<ReadError>(&read)) return std::move(*error);
  const std::vector<AttrSpec>& specs = std::get<std::vector<AttrSpec>>(read);

  WorkerPool& pool = global_pool();  // created by the first call of the process, also for 0
  if (scale == 0) {
    GeneratedText text;
    text.blocks.emplace_back(std::in_place);
    text.blocks.back()->append("[]", 2);
    text.length = 2;
    return text;
  }

  // The record list of `scale` entities must fit in the address space, as the count promises.
  if (scale > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()) /
                  sizeof(EntityRecord)) {
    panic("capacity overflow");
  }
  const EntityLayout layout = layout_entities(specs);

  // Refuse at once an output that cannot fit, instead of failing after hours of work.
  const EntityKeys keys = prepare_entity_keys(layout);  // names escaped once, shared read-only
  const std::uint64_t needed = shortest_output(scale, specs, layout, keys);
  if (needed > limits.max_text_bytes)
    return OutputTooLarge{needed, limits.max_text_bytes, "the largest string"};
  if (limits.memory_bytes != 0 && needed > limits.memory_bytes) {
    return OutputTooLarge{needed, limits.memory_bytes, "physical memory"};
  }

  const BlockPlan plan = plan_blocks(seed, scale, specs, layout, keys, pool.thread_count());
  GeneratedText text;
  text.blocks.resize(plan.count);
  const CollectResult collected = collect_indexed(
      pool, plan.count,
      [&](std::size_t b) { return build_block(plan, b, seed, specs, layout, keys); },
      std::span<std::optional<OutputBuffer>>(text.blocks), control);
  if (collected.cancelled) return Cancelled{};
  if (collected.filled != plan.count) {
    const std::uint64_t written = std::min<std::uint64_t>(scale, collected.filled * plan.per_block);
    panic("expected " + std::to_string(scale) + " total writes, but got " +
          std::to_string(written));
  }

  text.ascii = output_is_ascii(specs);
  for (const std::optional<OutputBuffer>& block : text.blocks) text.length += block->size();
  return text;
}

}  // namespace tessary
