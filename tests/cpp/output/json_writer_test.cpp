#include "output/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "attribute_text.h"
#include "output/json_writer_helpers.h"
#include "output/number_text.h"
#include "records/attr_spec.h"
#include "base/panic.h"
#include "test_support/json_objects.h"

namespace tessary {
namespace {

using testing::object_of;

std::string string_text(std::string_view text) {
  OutputBuffer out;
  write_json_string(text, out);
  return std::string(out.view());
}

std::string value_text(const JsonValue& value) {
  OutputBuffer out;
  write_value(value, out);
  return std::string(out.view());
}

// The escape rules written out independently of the table.
std::string expected_escape(unsigned char byte) {
  switch (byte) {
    case '"':
      return "\\\"";
    case '\\':
      return "\\\\";
    case '\b':
      return "\\b";
    case '\t':
      return "\\t";
    case '\n':
      return "\\n";
    case '\f':
      return "\\f";
    case '\r':
      return "\\r";
  }
  if (byte < 0x20) {
    char text[8];
    std::snprintf(text, sizeof text, "\\u%04x", byte);
    return text;
  }
  return std::string(1, static_cast<char>(byte));
}

TEST(WriteJsonString, EveryByteIsEscapedOrCopiedByTheTable) {
  for (int byte = 0; byte < 256; ++byte) {
    const std::string text{'a', static_cast<char>(byte), 'z'};
    std::string expected = "\"a";
    expected += expected_escape(static_cast<unsigned char>(byte));
    expected += "z\"";
    EXPECT_EQ(string_text(text), expected) << "byte " << byte;
  }
}

TEST(WriteJsonString, RunsBetweenEscapesAreCopiedWhole) {
  const struct {
    std::string text;
    std::string json;
  } cases[] = {
      {"", R"("")"},
      {"age", R"("age")"},
      {"a\"b\\c\td\x01", R"("a\"b\\c\td\u0001")"},
      {"\"\"", R"("\"\"")"},
      {"a/b", R"("a/b")"},
      {"\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
       "\"\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
      {"\x7F", "\"\x7F\""},
      {std::string("nul\0byte", 8), R"("nul\u0000byte")"},
      {"line one\nline two\r\n", R"("line one\nline two\r\n")"},
      {"\x1F\x0B\x0C", R"("\u001f\u000b\f")"},
      {std::string(300, 'x') + "\n" + std::string(300, 'y'),
       "\"" + std::string(300, 'x') + "\\n" + std::string(300, 'y') + "\""},
  };
  for (const auto& c : cases) EXPECT_EQ(string_text(c.text), c.json);
}

TEST(WriteValue, EveryKind) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    JsonValue value;
    const char* json;
  } cases[] = {
      {JsonValue(), "null"},
      {JsonValue(true), "true"},
      {JsonValue(false), "false"},
      {JsonNumber::from_u64(0), "0"},
      {JsonNumber::from_u64(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
      {JsonNumber::from_negative(-5), "-5"},
      {JsonNumber::from_negative(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
      {JsonNumber::from_f64(1.0), "1.0"},
      {JsonNumber::from_f64(-0.0), "-0.0"},
      {JsonNumber::from_f64(0.1), "0.1"},
      {JsonNumber::from_f64(1e300), "1e+300"},
      // Not finite: written as null (the reader never makes these, the writer still copes).
      {JsonNumber::from_f64(inf), "null"},
      {JsonNumber::from_f64(-inf), "null"},
      {JsonNumber::from_f64(nan), "null"},
      {JsonNumber::from_f64(-nan), "null"},
      {JsonValue(std::string("t\"x")), R"("t\"x")"},
      {JsonArray{}, "[]"},
      {JsonObject{}, "{}"},
      {JsonArray{JsonNumber::from_u64(1), JsonValue(), JsonValue(std::string("a"))},
       R"([1,null,"a"])"},
      {object_of({{"b", JsonNumber::from_u64(1)},
                  {"a", JsonNumber::from_u64(2)},
                  {"B", JsonNumber::from_u64(3)}}),
       R"({"B":3,"a":2,"b":1})"},
      {object_of({{"\xC3\xA9", JsonValue(true)}, {"z", JsonValue(false)}, {"", JsonValue()}}),
       "{\"\":null,\"z\":false,\"\xC3\xA9\":true}"},
      // JsonValue(...) around a lone inner array: clang reads JsonArray{JsonArray{}} as a copy of
      // the empty array, not as an array holding one.
      {JsonArray{JsonValue(JsonArray{JsonValue(JsonArray{})}),
                 object_of({{"k", JsonArray{JsonValue(JsonObject{})}}})},
       R"([[[]],{"k":[{}]}])"},
  };
  for (const auto& c : cases) EXPECT_EQ(value_text(c.value), c.json);
}

std::vector<AttrSpec> specs_named(const std::vector<std::string>& names) {
  std::vector<AttrSpec> specs;
  for (const std::string& name : names) specs.push_back({name, UniformInt{0, 1}});
  return specs;
}

TEST(WriteEntity, ScalarsInlineAndBorrowedValuesThroughWriteValue) {
  const JsonValue nested = JsonArray{JsonNumber::from_f64(2.5), object_of({{"x", JsonValue()}})};
  AttributeValue raw_infinity;  // a Double holding infinity, built without from_f64's check
  raw_infinity.kind = AttributeValue::Kind::Double;
  raw_infinity.d = std::numeric_limits<double>::infinity();
  const struct {
    AttributeValue value;
    const char* json;
  } cases[] = {
      {AttributeValue::null(), "null"},
      {AttributeValue::from_i64(0), "0"},
      {AttributeValue::from_i64(58), "58"},
      {AttributeValue::from_i64(-5), "-5"},
      {AttributeValue::from_i64(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
      {AttributeValue::from_f64(72.40703103282276), "72.40703103282276"},
      {AttributeValue::from_f64(-0.0), "-0.0"},
      {AttributeValue::from_f64(std::nan("")), "null"},
      {raw_infinity, "null"},
      {AttributeValue::borrow(nested), R"([2.5,{"x":null}])"},
  };
  const std::vector<AttrSpec> specs = specs_named({"v"});
  const EntityLayout layout = layout_entities(specs);
  const EntityKeys keys = prepare_entity_keys(layout);
  EntityRecord record = make_entity_record(layout);
  for (const auto& c : cases) {
    record.values[0] = c.value;
    OutputBuffer out;
    write_entity(record, keys, out);
    EXPECT_EQ(out.view(), std::string(R"({"id":0,"v":)") + c.json + "}");
  }
}


std::string entities_text(std::span<const EntityRecord> records) {
  return std::string(testing::write_entities(records).view());
}

TEST(WriteEntities, NoRecordsGiveAnEmptyArray) {
  EXPECT_EQ(entities_text({}), "[]");
}

TEST(WriteEntities, RecordsWithoutMembersHoldTheIdAlone) {
  const EntityLayout layout = layout_entities({});
  std::vector<EntityRecord> records;
  records.push_back(make_entity_record(layout));
  records.push_back(make_entity_record(layout));
  records[1].id = 1;
  EXPECT_EQ(entities_text(records), R"([{"id":0},{"id":1}])");
}

TEST(WriteEntities, MembersFollowTheIdInLayoutOrder) {
  // A spec named "id" gives a second member "id" after the entity's own; a repeated name is one
  // member at its first position.
  const std::vector<AttrSpec> specs = specs_named({"age", "id", "tab\there", "age", "\xC3\xA9"});
  const EntityLayout layout = layout_entities(specs);
  const JsonValue choice =
      object_of({{"b", JsonArray{JsonNumber::from_u64(10)}}, {"a", JsonValue()}});
  std::vector<EntityRecord> records;
  for (std::uint64_t id :
       {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{18446744073709551615u}}) {
    EntityRecord record = make_entity_record(layout);
    record.id = id;
    record.values[0] = AttributeValue::from_i64(static_cast<std::int64_t>(id % 7) - 3);
    record.values[1] = AttributeValue::from_f64(0.5);
    record.values[2] = AttributeValue::borrow(choice);
    // values[3] left null
    records.push_back(std::move(record));
  }
  EXPECT_EQ(
      entities_text(records),
      "[{\"id\":0,\"age\":-3,\"id\":0.5,\"tab\\there\":{\"a\":null,\"b\":[10]},\"\xC3\xA9\":null},"
      "{\"id\":1,\"age\":-2,\"id\":0.5,\"tab\\there\":{\"a\":null,\"b\":[10]},\"\xC3\xA9\":null},"
      "{\"id\":18446744073709551615,\"age\":-2,\"id\":0.5,\"tab\\there\":{\"a\":null,\"b\":[10]},"
      "\"\xC3\xA9\":null}]");
}

TEST(WriteEntity, AppendsOneObjectToTheCallersBuffer) {
  const std::vector<AttrSpec> specs = specs_named({"age"});
  const EntityLayout layout = layout_entities(specs);
  EntityRecord record = make_entity_record(layout);
  record.id = 7;
  record.values[0] = AttributeValue::from_i64(42);
  OutputBuffer out;
  out.append_literal("prefix,");
  write_entity(record, prepare_entity_keys(layout), out);
  EXPECT_EQ(out.view(), R"(prefix,{"id":7,"age":42})");
}

// The entity object written piece by piece, escaping each name as it goes: what the prepared keys
// must reproduce.
void write_entity_piece_by_piece(const EntityRecord& record, OutputBuffer& out) {
  out.append_literal("{\"id\":");
  char digits[U64_TEXT_CAPACITY];
  const std::size_t start = write_u64(record.id, digits);
  out.append(digits + start, U64_TEXT_CAPACITY - start);
  for (std::size_t m = 0; m < record.values.size(); ++m) {
    out.push_back(',');
    write_json_string(record.layout->member_names[m], out);
    out.push_back(':');
    out.append(attribute_text(record.values[m]));
  }
  out.push_back('}');
}

TEST(WriteEntity, PreparedKeysWriteTheSameBytesAsPieceByPiece) {
  // Keys shorter and longer than the block they are copied in, escaped keys, and borrowed values
  // large enough to make the buffer grow in the middle of an entity.
  const std::vector<AttrSpec> specs =
      specs_named({"", "a", std::string(31, 'k'), std::string(70, 'L'), "q\"\n", "id", "z"});
  const EntityLayout layout = layout_entities(specs);
  const EntityKeys keys = prepare_entity_keys(layout);
  JsonArray big;
  for (int i = 0; i < 500; ++i) big.push_back(JsonValue(std::string("element")));
  const JsonValue big_value = big;
  const JsonValue text_value(std::string("\x01text"));
  const JsonValue number_value = JsonNumber::from_f64(-1.5e-7);
  EntityRecord record = make_entity_record(layout);
  record.id = 123456789;
  record.values = {AttributeValue::borrow(big_value),    AttributeValue::from_f64(0.1),
                   AttributeValue::borrow(text_value),   AttributeValue::from_i64(-42),
                   AttributeValue::borrow(number_value), AttributeValue::null(),
                   AttributeValue::borrow(big_value)};
  for (std::size_t filled : {0, 100, 127}) {
    OutputBuffer plain;
    OutputBuffer prepared;
    const std::string filler(filled, '.');
    plain.append(filler);
    prepared.append(filler);
    write_entity_piece_by_piece(record, plain);
    write_entity(record, keys, prepared);
    EXPECT_EQ(prepared.view(), plain.view());
    EXPECT_EQ(plain.view().substr(filled, 33), R"({"id":123456789,"":["element","el)");
  }
}

TEST(WriteEntity, RecordsThatDoNotMatchTheirLayoutOrKeysPanic) {
  const std::vector<AttrSpec> one = specs_named({"a"});
  const std::vector<AttrSpec> two = specs_named({"a", "b"});
  const EntityLayout layout_one = layout_entities(one);
  const EntityLayout layout_two = layout_entities(two);
  const EntityKeys keys_one = prepare_entity_keys(layout_one);
  const EntityKeys keys_two = prepare_entity_keys(layout_two);
  EntityRecord short_record = make_entity_record(layout_two);
  short_record.values.pop_back();  // one value for two members
  const EntityRecord other_layout = make_entity_record(layout_two);
  OutputBuffer out;
  EXPECT_THROW(write_entity(short_record, keys_two, out), Panic);
  EXPECT_THROW(write_entity(other_layout, keys_one, out), Panic);
}

}  // namespace
}  // namespace tessary
