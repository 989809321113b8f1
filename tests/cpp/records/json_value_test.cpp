#include "records/json_value.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace tessary {
namespace {

std::vector<std::string> keys_of(const JsonObject& object) {
  std::vector<std::string> keys;
  for (const JsonMember& m : object) keys.push_back(m.key);
  return keys;
}

TEST(JsonObject, KeysIterateInUnsignedByteOrderAndRepeatedKeysKeepTheLastValue) {
  struct Case {
    std::vector<std::pair<std::string, int>> members;  // document order
    std::vector<std::string> keys;
    std::vector<int> values;
  };
  const Case cases[] = {
      {{{"b", 1}, {"a", 2}, {"b", 3}}, {"a", "b"}, {2, 3}},
      {{{"b", 1}, {"a", 2}, {"B", 3}}, {"B", "a", "b"}, {3, 2, 1}},
      {{{"ab", 1}, {"a", 2}, {"", 3}}, {"", "a", "ab"}, {3, 2, 1}},
      {{{"\xC3\xA9", 1}, {"z", 2}, {"\x01", 3}}, {"\x01", "z", "\xC3\xA9"}, {3, 2, 1}},
      {{{"a", 1}, {"a", 2}, {"a", 3}}, {"a"}, {3}},
  };
  for (const Case& c : cases) {
    std::vector<JsonMember> members;
    JsonObject inserted;
    for (const auto& [key, value] : c.members) {
      members.push_back({key, JsonNumber::from_u64(value)});
      inserted.insert_or_assign(key, JsonNumber::from_u64(value));
    }
    const JsonObject built = JsonObject::from_members(members);
    for (const JsonObject* object : {&built, static_cast<const JsonObject*>(&inserted)}) {
      EXPECT_EQ(keys_of(*object), c.keys);
      std::vector<int> values;
      for (const JsonMember& m : *object)
        values.push_back(static_cast<int>(std::get<JsonNumber>(m.value.data).u));
      EXPECT_EQ(values, c.values);
    }
    EXPECT_EQ(built, inserted);
  }
}

// Large objects take another sorting path than small ones; both keep the last repeated value.
TEST(JsonObject, FromMembersMatchesInsertionForEverySize) {
  for (int size = 0; size <= 40; ++size) {
    std::vector<JsonMember> members;
    JsonObject inserted;
    for (int i = 0; i < size; ++i) {
      const std::string key = std::to_string((size - i) % 7);  // descending, repeated
      members.push_back({key, JsonNumber::from_u64(i)});
      inserted.insert_or_assign(key, JsonNumber::from_u64(i));
    }
    EXPECT_EQ(JsonObject::from_members(members), inserted) << size;
  }
}

TEST(JsonValue, CopiesAreDeep) {
  JsonObject inner;
  inner.insert_or_assign("k", JsonValue(std::string("v")));
  JsonValue original(JsonArray{JsonValue(std::move(inner)), JsonValue(true)});
  JsonValue copy = original;
  auto& copied_inner = std::get<JsonObject>(std::get<JsonArray>(copy.data)[0].data);
  copied_inner.insert_or_assign("k", JsonValue(std::string("changed")));
  const auto& original_inner = std::get<JsonObject>(std::get<JsonArray>(original.data)[0].data);
  EXPECT_EQ(std::get<std::string>(original_inner.find("k")->data), "v");
  EXPECT_NE(copy, original);
}

TEST(JsonNumber, KindsAndConversionToDouble) {
  EXPECT_EQ(JsonNumber::from_i64(0).kind, JsonNumber::Kind::Unsigned);
  EXPECT_EQ(JsonNumber::from_i64(-1).kind, JsonNumber::Kind::Negative);
  EXPECT_EQ(JsonNumber::from_i64(std::numeric_limits<std::int64_t>::min()).to_f64(), -0x1p63);
  // Integers convert to the nearest double, ties to even.
  EXPECT_EQ(JsonNumber::from_u64((1ull << 53) + 1).to_f64(), 0x1p53);
  EXPECT_EQ(JsonNumber::from_u64((1ull << 53) + 3).to_f64(), 0x1p53 + 4);
  EXPECT_EQ(JsonNumber::from_u64(std::numeric_limits<std::uint64_t>::max()).to_f64(), 0x1p64);
  // Doubles compare by their bits: -0.0 is not 0.0.
  EXPECT_FALSE(JsonNumber::from_f64(-0.0) == JsonNumber::from_f64(0.0));
}

}  // namespace
}  // namespace tessary
