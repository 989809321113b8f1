#include "specs/buffered_value.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace tessary {
namespace {

BufferedValue number(std::uint64_t n) {
  return BufferedValue{JsonNumber::from_u64(n)};
}

BufferedMember member(std::string_view key, BufferedValue value) {
  return {BufferedValue{key}, std::move(value)};
}

TEST(BufferedValue, BecomesAJsonValueWithKindsKeptAndKeysOrdered) {
  BufferedObject inner;
  inner.push_back(member("b", number(1)));
  inner.push_back(member("a", BufferedValue{std::string("owned")}));
  inner.push_back(member("b", number(3)));  // repeated: the last value wins
  BufferedArray items;
  items.push_back(BufferedValue{std::monostate{}});
  items.push_back(BufferedValue{true});
  items.push_back(BufferedValue{JsonNumber::from_negative(-5)});
  items.push_back(BufferedValue{JsonNumber::from_f64(-0.0)});
  items.push_back(BufferedValue{std::string_view("view")});
  items.emplace_back().data = std::move(inner);
  items.emplace_back().data = BufferedArray{};

  JsonObject object;
  object.insert_or_assign("a", JsonValue(std::string("owned")));
  object.insert_or_assign("b", JsonNumber::from_u64(3));
  const JsonValue expected(
      JsonArray{JsonValue(nullptr), JsonValue(true), JsonValue(JsonNumber::from_negative(-5)),
                JsonValue(JsonNumber::from_f64(-0.0)), JsonValue(std::string("view")),
                JsonValue(std::move(object)), JsonValue(JsonArray{})});
  BufferedValue value;
  value.data = std::move(items);
  EXPECT_EQ(to_json_value(std::move(value)), expected);
}

TEST(BufferedValue, StringsOfEitherFormReadTheSame) {
  const BufferedValue view{std::string_view("abc")};
  const BufferedValue owned{std::string("abc")};
  EXPECT_TRUE(view.is_string());
  EXPECT_TRUE(owned.is_string());
  EXPECT_FALSE(number(1).is_string());
  EXPECT_EQ(view.string(), owned.string());
}

}  // namespace
}  // namespace tessary
