#include "output/output_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessary {
namespace {

TEST(OutputBuffer, StartsEmptyWithRoomFor128Bytes) {
  const OutputBuffer buffer;
  EXPECT_EQ(buffer.size(), 0u);
  EXPECT_EQ(buffer.capacity(), 128u);
  EXPECT_NE(buffer.data(), nullptr);
}

TEST(OutputBuffer, GrowsToTheLargestOfEightTheNeededLengthAndTwiceTheCapacity) {
  struct Step {
    std::size_t append;
    std::size_t capacity;  // after the append
  };
  const std::vector<Step> steps = {
      {100, 128},    // fits
      {28, 128},     // fills it exactly
      {1, 256},      // twice the old capacity
      {1000, 1129},  // the length needed is larger
      {1, 2258},
  };
  OutputBuffer buffer;
  std::string expected;
  for (const Step& step : steps) {
    const std::string piece(step.append, static_cast<char>('a' + expected.size() % 26));
    buffer.append(piece);
    expected += piece;
    EXPECT_EQ(buffer.capacity(), step.capacity) << "after " << expected.size() << " bytes";
    EXPECT_EQ(buffer.view(), expected);
  }
}

TEST(OutputBuffer, AppendsLiteralsBytesAndBlockPrefixes) {
  OutputBuffer buffer;
  buffer.append_literal("null");
  buffer.push_back(',');
  buffer.append("ab", 2);
  buffer.append(std::string_view("cd"));
  const char block[8] = {'x', 'y', 'z', '!', '!', '!', '!', '!'};
  buffer.append_prefix<sizeof block>(block, 3);
  buffer.append("", 0);
  EXPECT_EQ(buffer.view(), "null,abcdxyz");
  // Writing in place: reserve, write at the tail, advance by what was written.
  buffer.reserve(4);
  char* tail = buffer.tail();
  tail[0] = '1';
  tail[1] = '2';
  buffer.advance(2);
  EXPECT_EQ(buffer.view(), "null,abcdxyz12");
  buffer.clear();
  EXPECT_EQ(buffer.size(), 0u);
  EXPECT_EQ(buffer.capacity(), 128u);
}

TEST(OutputBuffer, MovesTransferTheBytes) {
  OutputBuffer source;
  source.append_literal("abc");
  const char* bytes = source.data();
  OutputBuffer moved(std::move(source));
  EXPECT_EQ(moved.data(), bytes);
  EXPECT_EQ(moved.view(), "abc");
  // The moved-from state is specified (NOLINT: use after move): empty, capacity 0, no bytes.
  EXPECT_EQ(source.size(), 0u);       // NOLINT
  EXPECT_EQ(source.capacity(), 0u);   // NOLINT
  EXPECT_EQ(source.data(), nullptr);  // NOLINT
  // An empty append needs no room; the first real one takes the minimum capacity of 8.
  source.append("", 0);              // NOLINT
  EXPECT_EQ(source.capacity(), 0u);  // NOLINT
  source.append_literal("xyz");
  EXPECT_EQ(source.capacity(), 8u);
  source.append_literal("defghi");
  EXPECT_EQ(source.capacity(), 16u);
  EXPECT_EQ(source.view(), "xyzdefghi");

  OutputBuffer target;
  target.append_literal("old");
  target = std::move(moved);
  EXPECT_EQ(target.view(), "abc");
  EXPECT_EQ(moved.size(), 0u);  // NOLINT
}

TEST(OutputBuffer, RequestsBeyondTheAddressableSizeThrowBadAllocAndKeepTheBytes) {
  OutputBuffer buffer;
  buffer.append_literal("keep");
  const std::size_t huge[] = {std::numeric_limits<std::size_t>::max(),
                              std::numeric_limits<std::size_t>::max() - 2,
                              static_cast<std::size_t>(PTRDIFF_MAX)};
  for (std::size_t additional : huge) {
    EXPECT_THROW(buffer.reserve(additional), std::bad_alloc) << additional;
    EXPECT_EQ(buffer.view(), "keep");
    EXPECT_EQ(buffer.capacity(), 128u);
  }
}

}  // namespace
}  // namespace tessary
