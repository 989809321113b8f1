#include "compression/frame_compressor.h"

#include <libdeflate.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <new>

#include "base/panic.h"

namespace tessary {
namespace {

void compress_gzip(libdeflate_compressor* compressor, std::string_view text, OutputBuffer& out) {
  out.clear();
  // The bound holds for any input of that size, so the call below cannot run out of room.
  const std::size_t bound = libdeflate_gzip_compress_bound(compressor, text.size());
  out.reserve(bound);
  const std::size_t written =
      libdeflate_gzip_compress(compressor, text.data(), text.size(), out.tail(), bound);
  if (written == 0) panic("libdeflate could not compress a block within its own bound");
  out.advance(written);
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
  return compression == Compression::Zstd ? 3 : 5;
}

std::string level_range_text(Compression compression) {
  if (compression == Compression::Gzip) return "gzip levels are 0 to 12";
  return "zstd levels are " + std::to_string(ZSTD_minCLevel()) + " to " +
         std::to_string(ZSTD_maxCLevel());
}

std::optional<std::string> level_error(Compression compression, int level) {
  const bool usable = compression == Compression::Gzip
                          ? 0 <= level && level <= 12
                          : ZSTD_minCLevel() <= level && level <= ZSTD_maxCLevel();
  if (compression == Compression::None || usable) return std::nullopt;
  return level_range_text(compression) + ", not " + std::to_string(level);
}

FrameCompressor::FrameCompressor(Compression compression, int level)
    : compression_(compression), level_(level) {
  if (compression_ == Compression::Gzip) {
    // The level was checked, so only memory can be missing.
    deflate_ = libdeflate_alloc_compressor(level_);
    if (deflate_ == nullptr) throw std::bad_alloc();
  } else if (compression_ == Compression::Zstd) {
    zstd_ = ZSTD_createCCtx();
    if (zstd_ == nullptr) throw std::bad_alloc();
    ZSTD_CCtx_setParameter(zstd_, ZSTD_c_compressionLevel, level_);
    ZSTD_CCtx_setParameter(zstd_, ZSTD_c_checksumFlag, 1);
  }
}

FrameCompressor::~FrameCompressor() {
  libdeflate_free_compressor(deflate_);
  ZSTD_freeCCtx(zstd_);
}

void FrameCompressor::compress(std::string_view text, OutputBuffer& out) {
  if (deflate_ != nullptr) {
    compress_gzip(deflate_, text, out);
  } else if (zstd_ != nullptr) {
    compress_zstd(zstd_, text, out);
  } else {
    panic("a block compressor was made without a compression");
  }
}

}  // namespace tessary
