#include "specs/buffered_value.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace tessary {
namespace {

TEST(BufferedValue, BecomesTheJsonValueItHolds) {
  JsonObject object;
  object.insert_or_assign("k", JsonValue(std::string("v")));
  const JsonArray array{JsonValue(nullptr), JsonValue(JsonNumber::from_negative(-5))};
  struct Case {
    BufferedValue buffered;
    JsonValue expected;
  };
  const Case cases[] = {
      {{std::monostate{}}, JsonValue(nullptr)},
      {{false}, JsonValue(false)},
      {{JsonNumber::from_f64(-0.0)}, JsonValue(JsonNumber::from_f64(-0.0))},
      {{std::string_view("view")}, JsonValue(std::string("view"))},
      {{std::string("owned")}, JsonValue(std::string("owned"))},
      {{array}, JsonValue(array)},
      {{object}, JsonValue(object)},
  };
  for (const Case& c : cases) {
    BufferedValue copy = c.buffered;
    EXPECT_EQ(to_json_value(std::move(copy)), c.expected);
  }
}

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
