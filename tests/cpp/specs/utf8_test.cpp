#include "specs/utf8.h"

#include <gtest/gtest.h>

#include <string_view>

namespace tessary {
namespace {

TEST(Utf8, SequenceLengthsFollowTheWellFormedRanges) {
  struct Case {
    std::string_view bytes;
    std::size_t length;
  };
  using namespace std::string_view_literals;
  const Case cases[] = {
      {"", 0},
      {"\0"sv, 1},
      {"a", 1},
      {"\x7F", 1},
      {"\xC2\x80", 2},          // U+0080
      {"\xDF\xBF", 2},          // U+07FF
      {"\xE0\xA0\x80", 3},      // U+0800
      {"\xED\x9F\xBF", 3},      // U+D7FF
      {"\xEE\x80\x80", 3},      // U+E000
      {"\xEF\xBF\xBF", 3},      // U+FFFF
      {"\xF0\x90\x80\x80", 4},  // U+10000
      {"\xF4\x8F\xBF\xBF", 4},  // U+10FFFF
      {"\xC3\xA9zz", 2},        // only the first sequence counts
      {"\x80", 0},              // a continuation byte alone
      {"\xC0\xAF", 0},          // overlong
      {"\xC1\xBF", 0},          // overlong
      {"\xE0\x9F\xBF", 0},      // overlong
      {"\xF0\x8F\xBF\xBF", 0},  // overlong
      {"\xED\xA0\x80", 0},      // U+D800, a surrogate
      {"\xF4\x90\x80\x80", 0},  // above U+10FFFF
      {"\xF5\x80\x80\x80", 0},
      {"\xFF", 0},
      {"\xC3", 0},          // truncated
      {"\xE2\x82", 0},      // truncated
      {"\xE2\x28\xA1", 0},  // a bad continuation byte
  };
  for (const Case& c : cases) EXPECT_EQ(utf8_sequence_length(c.bytes), c.length);
}

}  // namespace
}  // namespace tessary
