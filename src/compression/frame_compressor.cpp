#include "compression/frame_compressor.h"

#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <limits>
#include <new>

#include "base/panic.h"

namespace tessary {
namespace {

// gzip wrapping (15 window bits + 16) and zlib's default memory level.
constexpr int GZIP_WINDOW_BITS = 15 + 16;
constexpr int DEFLATE_MEMORY_LEVEL = 8;

void compress_gzip(z_stream& stream, std::string_view text, OutputBuffer& out) {
  if (deflateReset(&stream) != Z_OK) panic("zlib could not reset its compressor");
  out.clear();
  // deflateBound holds for the whole input given at once; its argument is a uLong, wide enough.
  out.reserve(deflateBound(&stream, static_cast<uLong>(text.size())));
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  std::size_t input_left = text.size();
  for (;;) {
    // zlib counts in uInt: feed at most 1 GiB at a time.
    const std::size_t feed = std::min<std::size_t>(input_left, std::size_t{1} << 30);
    stream.avail_in = static_cast<uInt>(feed);
    input_left -= feed;
    const int flush = input_left == 0 ? Z_FINISH : Z_NO_FLUSH;
    do {
      if (out.capacity() - out.size() < 64) out.reserve(out.capacity());
      const std::size_t room = std::min<std::size_t>(out.capacity() - out.size(),
                                                     std::numeric_limits<uInt>::max());
      stream.next_out = reinterpret_cast<Bytef*>(out.tail());
      stream.avail_out = static_cast<uInt>(room);
      const int status = deflate(&stream, flush);
      out.advance(room - stream.avail_out);
      if (status == Z_STREAM_END) return;
      if (status != Z_OK && status != Z_BUF_ERROR) panic("zlib could not compress a block");
    } while (stream.avail_in != 0 || flush == Z_FINISH);
  }
}

void compress_zstd(ZSTD_CCtx* context, std::string_view text, OutputBuffer& out) {
  out.clear();
  const std::size_t bound = ZSTD_compressBound(text.size());
  if (ZSTD_isError(bound)) throw std::bad_alloc();  // larger than any buffer can be
  out.reserve(bound);
  const std::size_t written =
      ZSTD_compress2(context, out.tail(), bound, text.data(), text.size());
  if (ZSTD_isError(written)) {
    if (ZSTD_getErrorCode(written) == ZSTD_error_memory_allocation) throw std::bad_alloc();
    panic(std::string("libzstd could not compress a block: ") + ZSTD_getErrorName(written));
  }
  out.advance(written);
}

}  // namespace

int default_level(Compression compression) {
  return compression == Compression::Zstd ? 3 : 6;
}

std::string level_range_error(Compression compression, std::string_view level) {
  const std::string shown(level);
  if (compression == Compression::Gzip) return "gzip levels are 0 to 9, not " + shown;
  return "zstd levels are " + std::to_string(ZSTD_minCLevel()) + " to " +
         std::to_string(ZSTD_maxCLevel()) + ", not " + shown;
}

std::optional<std::string> level_error(Compression compression, int level) {
  const bool outside =
      (compression == Compression::Gzip && (level < 0 || level > 9)) ||
      (compression == Compression::Zstd && (level < ZSTD_minCLevel() || level > ZSTD_maxCLevel()));
  if (!outside) return std::nullopt;
  return level_range_error(compression, std::to_string(level));
}

FrameCompressor::FrameCompressor(Compression compression, int level)
    : compression_(compression), level_(level) {
  if (compression_ == Compression::Gzip) {
    deflate_ = new z_stream{};
    if (deflateInit2(deflate_, level_, Z_DEFLATED, GZIP_WINDOW_BITS, DEFLATE_MEMORY_LEVEL,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
      delete deflate_;
      throw std::bad_alloc();
    }
  } else if (compression_ == Compression::Zstd) {
    zstd_ = ZSTD_createCCtx();
    if (zstd_ == nullptr) throw std::bad_alloc();
    ZSTD_CCtx_setParameter(zstd_, ZSTD_c_compressionLevel, level_);
    ZSTD_CCtx_setParameter(zstd_, ZSTD_c_checksumFlag, 1);
  }
}

FrameCompressor::~FrameCompressor() {
  if (deflate_ != nullptr) {
    deflateEnd(deflate_);
    delete deflate_;
  }
  ZSTD_freeCCtx(zstd_);
}

void FrameCompressor::compress(std::string_view text, OutputBuffer& out) {
  if (deflate_ != nullptr) {
    compress_gzip(*deflate_, text, out);
  } else if (zstd_ != nullptr) {
    compress_zstd(zstd_, text, out);
  } else {
    panic("a block compressor was made without a compression");
  }
}

}  // namespace tessary
