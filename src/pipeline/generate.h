// The text of an id range held whole in memory: the body of generate_entities (specs text in, JSON
// text out) and of a table's text().
//
// The range is cut into contiguous blocks (pipeline/range_plan.h) that the worker pool builds in
// parallel, each into its own buffer (pipeline/block_text.h); the text is the concatenation of the
// blocks' bytes in block order. A range whose text fits in one small block is built on the calling
// thread instead, so that a few entities cost no more than building them.
//
// Failures: a malformed specs document, an output that cannot fit and a cancelled call are
// returned as values; sampler failures and internal checks are panics (tessary::Panic, the one of
// the lowest failing entity whatever the threads), and running out of memory is std::bad_alloc.
// Everything the call allocated is released before either reaches the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "output/output_buffer.h"
#include "pipeline/block_text.h"
#include "pipeline/prepared_specs.h"
#include "pool/collect_indexed.h"
#include "specs/read_error.h"

namespace tessary {

struct GeneratedText {
  // Concatenated in order, the blocks are the whole text. Every block is present once the call
  // has returned; optional only so that an empty slot costs no allocation while blocks are built.
  std::vector<std::optional<OutputBuffer>> blocks;
  std::size_t length = 0;  // total bytes
  bool ascii = true;       // every byte is below 0x80
};

// The output is known to need more memory than can be had: at least `needed` bytes, more than the
// `limit` bytes of what `limit_name` names.
struct OutputTooLarge {
  std::uint64_t needed = 0;
  std::uint64_t limit = 0;
  const char* limit_name = "";
};

struct Cancelled {};

using GenerateResult = std::variant<GeneratedText, ReadError, OutputTooLarge, Cancelled>;

struct GenerateLimits {
  std::uint64_t max_text_bytes;  // the largest text the caller can turn into a string
  std::uint64_t memory_bytes;    // the machine's physical memory
};

// Reads specs_json in the original language (prepare_original_specs), as tessary._core always has.
// Requires: specs_json is UTF-8 and stays valid for the whole call. `control` may cancel the call
// (then the result is Cancelled, after every piece of work has stopped). Runs the entity builds on
// the process-wide worker pool; the calling thread waits.
GenerateResult generate_entities(std::uint64_t seed, std::uint64_t scale,
                                 std::string_view specs_json, const GenerateLimits& limits,
                                 const CollectControl& control = {});

// The text of entities [start, stop) of `prepared` under `seed` as `format`: what generate_entities
// does once the document is read, for any range. Requires: start <= stop. Never returns ReadError.
GenerateResult generate_text(const PreparedSpecs& prepared, std::uint64_t seed, std::uint64_t start,
                             std::uint64_t stop, TextFormat format, const GenerateLimits& limits,
                             const CollectControl& control = {});

// Copies the blocks, in order, into `destination` (text.length bytes) on the worker pool, releasing
// each block once it is copied. Workers write only into `destination`. Requires: text holds every
// block (as generate_entities returned it). Afterwards the blocks are empty.
void assemble_text(GeneratedText& text, char* destination);

}  // namespace tessary
