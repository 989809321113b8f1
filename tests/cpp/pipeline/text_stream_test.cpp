#include "pipeline/text_stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "pool/test_pools.h"

namespace tessary {
namespace {

using testing::pool_with;
using testing::THREAD_COUNTS;

constexpr std::uint64_t MAX = std::numeric_limits<std::uint64_t>::max();
constexpr const char* SPECS =
    R"([{"name":"a","type":"uniform_int","low":0,"high":1000000},)"
    R"({"name":"b","type":"choice","values":["x","yy",{"z":[1,2]}],"weights":[1,2,3]}])";

struct Streamed {
  std::vector<std::uint64_t> entities;  // per chunk
  std::vector<std::string> bytes;       // per chunk
};

Streamed stream_all(WorkerPool& pool, const TextStreamOptions& options) {
  auto prepared = prepare_specs(SPECS);
  TextStream stream(std::move(std::get<std::shared_ptr<const PreparedSpecs>>(prepared)), 5, options,
                    pool);
  Streamed out;
  for (;;) {
    const TextStream::Chunk chunk = stream.next();
    if (chunk.status != OrderedWindow::Status::Ready) {
      EXPECT_EQ(chunk.status, OrderedWindow::Status::End);
      return out;
    }
    out.entities.push_back(chunk.entities);
    out.bytes.emplace_back(chunk.bytes);
  }
}

TEST(TextStream, ChunksAndCompressedBytesDoNotDependOnTheThreadCount) {
  const struct {
    std::uint64_t start, stop;
    Compression compression;
  } cases[] = {{0, 100'000, Compression::Zstd},
               {MAX - 100'000, MAX, Compression::Gzip},
               {17, 17, Compression::Zstd},
               {MAX - 5, MAX, Compression::None}};
  for (const auto& c : cases) {
    TextStreamOptions options;
    options.compression = c.compression;
    options.level = c.compression == Compression::None ? 0 : default_level(c.compression);
    options.start = c.start;
    options.stop = c.stop;
    const Streamed reference = stream_all(pool_with(1), options);
    std::uint64_t total = 0;
    for (std::uint64_t n : reference.entities) total += n;
    EXPECT_EQ(total, c.stop - c.start);
    for (std::size_t threads : THREAD_COUNTS) {
      const Streamed other = stream_all(pool_with(threads), options);
      EXPECT_EQ(other.entities, reference.entities) << threads << " threads from " << c.start;
      EXPECT_TRUE(other.bytes == reference.bytes) << threads << " threads from " << c.start;
    }
  }
}

}  // namespace
}  // namespace tessary
