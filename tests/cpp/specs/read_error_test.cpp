#include "specs/read_error.h"

#include <gtest/gtest.h>

namespace tessary {
namespace {

TEST(ReadError, DisplayAddsThePositionWhenThereIsOne) {
  EXPECT_EQ((ReadError{"trailing comma", 3, 0}).display(), "trailing comma at line 3 column 0");
  EXPECT_EQ((ReadError{"expected value", 1, 12345}).display(),
            "expected value at line 1 column 12345");
  EXPECT_EQ((ReadError{"missing field `name`", 0, 7}).display(), "missing field `name`");
}

}  // namespace
}  // namespace tessary
