#include "compression/frame_compressor.h"

#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace tessary {
namespace {

// Every gzip member of `data`, decompressed in turn by zlib (not the library that wrote them);
// "<error>" if zlib refuses one.
std::string gunzip(std::string_view data) {
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) return "<error>";
  std::string out;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  char buffer[4096];
  int status = Z_OK;
  while (stream.avail_in > 0 || status == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    status = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - stream.avail_out);
    if (status == Z_STREAM_END) {
      if (stream.avail_in == 0) break;
      inflateReset(&stream);  // the next member
      status = Z_OK;
    } else if (status != Z_OK) {
      out = "<error>";
      break;
    }
  }
  inflateEnd(&stream);
  return out;
}

// Every zstd frame of `data`, decompressed in turn by libzstd; "<error>" if it refuses them.
std::string unzstd(std::string_view data) {
  ZSTD_DStream* stream = ZSTD_createDStream();
  std::string out;
  ZSTD_inBuffer in{data.data(), data.size(), 0};
  char buffer[4096];
  std::size_t status = 0;
  while (in.pos < in.size) {
    ZSTD_outBuffer piece{buffer, sizeof buffer, 0};
    status = ZSTD_decompressStream(stream, &piece, &in);
    if (ZSTD_isError(status)) break;
    out.append(buffer, piece.pos);
  }
  // Whatever is still buffered, until the last frame is complete (status 0).
  while (!ZSTD_isError(status) && status != 0) {
    ZSTD_outBuffer piece{buffer, sizeof buffer, 0};
    status = ZSTD_decompressStream(stream, &piece, &in);
    if (!ZSTD_isError(status) && piece.pos == 0 && status != 0) break;  // truncated input
    out.append(buffer, piece.pos);
  }
  ZSTD_freeDStream(stream);
  return status == 0 ? out : "<error>";
}

std::string decompress(Compression compression, std::string_view data) {
  return compression == Compression::Gzip ? gunzip(data) : unzstd(data);
}

// Text that compresses somewhat, like entity text: repeated keys, varying digits.
std::string entity_like(std::size_t entities) {
  std::string text;
  std::uint64_t x = 88172645463325252ULL;
  for (std::size_t i = 0; i < entities; ++i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    text += "{\"id\":" + std::to_string(i) + ",\"v\":" + std::to_string(x % 1000003) + "}\n";
  }
  return text;
}

std::string compressed(FrameCompressor& compressor, std::string_view text) {
  OutputBuffer out;
  out.push_back('!');  // replaced, not appended to
  compressor.compress(text, out);
  return std::string(out.view());
}

TEST(FrameCompressor, MembersRoundTripAndConcatenateAndAreTheSameFromAReusedCompressor) {
  const std::string texts[] = {"", "x", entity_like(20), entity_like(8000)};
  const struct {
    Compression compression;
    int level;
  } settings[] = {{Compression::Gzip, 0}, {Compression::Gzip, 1}, {Compression::Gzip, 6},
                  {Compression::Gzip, 12},
                  {Compression::Zstd, -5}, {Compression::Zstd, 3}, {Compression::Zstd, 19}};
  for (const auto& s : settings) {
    SCOPED_TRACE(std::to_string(static_cast<int>(s.compression)) + " level " + std::to_string(s.level));
    FrameCompressor reused(s.compression, s.level);
    std::string stream, expected;
    for (const std::string& text : texts) {
      const std::string member = compressed(reused, text);
      FrameCompressor fresh(s.compression, s.level);
      EXPECT_EQ(member, compressed(fresh, text)) << text.size() << " bytes";
      EXPECT_EQ(decompress(s.compression, member), text) << text.size() << " bytes";
      EXPECT_FALSE(member.empty());  // an empty text is still one member (frame)
      stream += member;
      expected += text;
    }
    EXPECT_EQ(decompress(s.compression, stream), expected);
  }
}

TEST(FrameCompressor, GzipMembersCarryNoTimeAndNoName) {
  FrameCompressor compressor(Compression::Gzip, 6);
  const std::string member = compressed(compressor, entity_like(10));
  ASSERT_GE(member.size(), 10u);
  EXPECT_EQ(member.substr(0, 3), std::string("\x1f\x8b\x08", 3));
  EXPECT_EQ(member[3], 0);                            // no flags: no name, comment or extra field
  EXPECT_EQ(member.substr(4, 4), std::string(4, '\0'));  // mtime 0
}

TEST(FrameCompressor, LevelsOutsideEachLibrarysRangeAreRefused) {
  EXPECT_FALSE(level_error(Compression::Gzip, default_level(Compression::Gzip)));
  EXPECT_FALSE(level_error(Compression::Zstd, default_level(Compression::Zstd)));
  EXPECT_TRUE(level_error(Compression::Gzip, -1));
  EXPECT_FALSE(level_error(Compression::Gzip, 12));
  EXPECT_TRUE(level_error(Compression::Gzip, 13));
  EXPECT_TRUE(level_error(Compression::Zstd, ZSTD_maxCLevel() + 1));
  EXPECT_TRUE(level_error(Compression::Zstd, ZSTD_minCLevel() - 1));
}

}  // namespace
}  // namespace tessary
