#include "records/json_value.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <string>
#include <vector>

#include "test_support/json_objects.h"

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
    for (const auto& [key, value] : c.members) members.push_back({key, JsonNumber::from_u64(value)});
    const JsonObject built = JsonObject::from_members(members);
    EXPECT_EQ(keys_of(built), c.keys);
    std::vector<int> values;
    for (const JsonMember& m : built)
      values.push_back(static_cast<int>(std::get<JsonNumber>(m.value.data).u));
    EXPECT_EQ(values, c.values);
  }
}

// Large objects take another sorting path than small ones; both keep the last repeated value, as
// a std::map (whose std::string keys also compare as unsigned bytes) assigned in order does.
TEST(JsonObject, FromMembersMatchesAnOrderedMapForEverySize) {
  for (int size = 0; size <= 40; ++size) {
    std::vector<JsonMember> members;
    std::map<std::string, std::uint64_t> expected;
    for (int i = 0; i < size; ++i) {
      const std::string key = std::to_string((size - i) % 7);  // descending, repeated
      members.push_back({key, JsonNumber::from_u64(i)});
      expected[key] = static_cast<std::uint64_t>(i);
    }
    std::map<std::string, std::uint64_t> built;
    std::vector<std::string> keys;
    for (const JsonMember& m : JsonObject::from_members(members)) {
      built[m.key] = std::get<JsonNumber>(m.value.data).u;
      keys.push_back(m.key);
    }
    EXPECT_EQ(built, expected) << size;
    EXPECT_EQ(keys.size(), expected.size()) << size;  // each key once
  }
}

TEST(JsonValue, CopiesAreDeep) {
  JsonValue original(JsonArray{JsonValue(testing::object_of({{"k", JsonValue(std::string("v"))}})),
                               JsonValue(std::string("text"))});
  JsonValue copy = original;
  JsonArray& copied = std::get<JsonArray>(copy.data);
  std::get<std::string>(copied[1].data) = "changed";
  copied[0] = testing::object_of({{"k", JsonValue(std::string("changed"))}});
  const JsonArray& kept = std::get<JsonArray>(original.data);
  EXPECT_EQ(std::get<std::string>(kept[1].data), "text");
  const JsonValue* value = testing::find_member(std::get<JsonObject>(kept[0].data), "k");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(std::get<std::string>(value->data), "v");
  EXPECT_NE(copy, original);
}

TEST(JsonNumber, KindsAndConversionToDouble) {
  EXPECT_EQ(JsonNumber::from_negative(std::numeric_limits<std::int64_t>::min()).to_f64(), -0x1p63);
  // Integers convert to the nearest double, ties to even.
  EXPECT_EQ(JsonNumber::from_u64((1ull << 53) + 1).to_f64(), 0x1p53);
  EXPECT_EQ(JsonNumber::from_u64((1ull << 53) + 3).to_f64(), 0x1p53 + 4);
  EXPECT_EQ(JsonNumber::from_u64(std::numeric_limits<std::uint64_t>::max()).to_f64(), 0x1p64);
  // Doubles compare by their bits: -0.0 is not 0.0.
  EXPECT_FALSE(JsonNumber::from_f64(-0.0) == JsonNumber::from_f64(0.0));
}

}  // namespace
}  // namespace tessary
