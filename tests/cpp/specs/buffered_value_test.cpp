#include "specs/buffered_value.h"

#include <gtest/gtest.h>

#include <string>

namespace tessary {
namespace {

TEST(BufferedValue, StringsOfEitherFormReadTheSame) {
  const BufferedValue view{std::string_view("abc")};
  const BufferedValue owned{std::string("abc")};
  EXPECT_TRUE(view.is_string());
  EXPECT_TRUE(owned.is_string());
  EXPECT_FALSE((BufferedValue{JsonArray{}}).is_string());
  EXPECT_EQ(view.string(), owned.string());
}

}  // namespace
}  // namespace tessary
