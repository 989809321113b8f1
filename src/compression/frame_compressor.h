// Block compression: each block of a streamed text becomes one gzip member or one zstd frame.
//
// Both formats allow members (frames) to follow each other in one file, and their decompressors
// give the concatenation of the members' contents, so blocks compressed independently, on the
// worker threads that built them, make one valid compressed stream. A member depends only on its
// block's text, the format and the level (and on the libdeflate or libzstd version), so the
// compressed bytes are the same for any thread count. gzip members carry mtime 0 and no file name.
//
// gzip is written by libdeflate, whose whole-buffer interface fits one member per block and which
// compresses faster than zlib at a better ratio. Its levels run from 0 (stored) to 12 and do not
// match zlib's one for one: the default is the fastest level whose output on the example spec
// files' JSON Lines is no larger than zlib's level 6 (bench/gzip_bench.py measures every level).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "output/output_buffer.h"

struct libdeflate_compressor;
struct ZSTD_CCtx_s;

namespace tessary {

enum class Compression : std::uint8_t { None, Gzip, Zstd };

// gzip 5 (libdeflate's scale, see above) and zstd 3, that tool's usual default.
int default_level(Compression compression);

// The levels `compression` (not None) accepts, as text: "gzip levels are 0 to 12".
std::string level_range_text(Compression compression);

// Why `level` cannot be used with `compression` ("gzip levels are 0 to 12, not 13"), or nullopt.
[[nodiscard]] std::optional<std::string> level_error(Compression compression, int level);

// One compressor per thread of work, reused for block after block. Not thread-safe.
class FrameCompressor {
 public:
  // Requires: compression != None and level_error(compression, level) is nullopt. Throws
  // std::bad_alloc when the library's state cannot be allocated.
  FrameCompressor(Compression compression, int level);
  ~FrameCompressor();
  FrameCompressor(const FrameCompressor&) = delete;
  FrameCompressor& operator=(const FrameCompressor&) = delete;

  // Replaces the contents of `out` with `text` compressed as one complete member (frame).
  // Throws std::bad_alloc when memory runs out; any other library failure is a Panic.
  void compress(std::string_view text, OutputBuffer& out);

 private:
  Compression compression_;
  int level_;
  libdeflate_compressor* deflate_ = nullptr;
  ZSTD_CCtx_s* zstd_ = nullptr;
};

}  // namespace tessary
