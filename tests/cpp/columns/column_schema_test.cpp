#include "columns/column_schema.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "columns/column_test_helpers.h"
#include "nanoarrow/hpp/unique.hpp"

namespace tessary {
namespace {

using testing::plan;

// The Arrow type of field 1 (the first attribute) as format, nullability and extension name.
struct Field {
  std::string format;
  bool nullable;
  std::string extension;  // empty without one
  std::string dictionary_format;

  friend bool operator==(const Field&, const Field&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Field& f) {
    return out << f.format << (f.nullable ? " nullable" : "") << " ext=" << f.extension
               << " dict=" << f.dictionary_format;
  }
};

Field first_attribute_field(const ColumnSchema& schema) {
  nanoarrow::UniqueSchema arrow;
  export_arrow_schema(schema, arrow.get());
  EXPECT_EQ(std::string(arrow->format), "+s");
  EXPECT_EQ(std::string(arrow->children[0]->name), "id");
  EXPECT_EQ(std::string(arrow->children[0]->format), "L");
  const ArrowSchema* field = arrow->children[1];
  Field f{field->format, (field->flags & ARROW_FLAG_NULLABLE) != 0, "", ""};
  ArrowStringView extension{nullptr, 0};
  if (ArrowMetadataGetValue(field->metadata, ArrowCharView("ARROW:extension:name"), &extension) ==
          NANOARROW_OK &&
      extension.data != nullptr) {
    f.extension.assign(extension.data, static_cast<std::size_t>(extension.size_bytes));
  }
  if (field->dictionary != nullptr) f.dictionary_format = field->dictionary->format;
  return f;
}

TEST(PlanColumns, EachSpecKindAndChoiceOfValuesGetsItsType) {
  struct Case {
    const char* spec;  // the attribute's type and parameters
    Field field;
  };
  const Field int64{"l", false, "", ""}, float64{"g", true, "", ""},
      json{"u", false, "arrow.json", ""};
  const std::vector<Case> cases = {
      {R"("type":"uniform_int","low":-5,"high":5)", int64},
      {R"("type":"uniform_float","low":0,"high":1)", float64},
      {R"("type":"normal","mean":0,"std_dev":1)", float64},
      {R"("type":"choice","values":[1,-2,9223372036854775807])", int64},
      {R"("type":"choice","values":[1,null,-9223372036854775808])", {"l", true, "", ""}},
      // Past int64 but exact as doubles: 2^63, and 2^53 beside a fraction.
      {R"("type":"choice","values":[1,9223372036854775808])", {"g", false, "", ""}},
      {R"("type":"choice","values":[9007199254740992,0.5,-3])", {"g", false, "", ""}},
      // Not all int64, and not exact as doubles: 2^53 + 1, -(2^53 + 1), 2^64 - 1.
      {R"("type":"choice","values":[1.5,9007199254740993])", json},
      {R"("type":"choice","values":[-9007199254740993,0.5])", json},
      {R"("type":"choice","values":[18446744073709551615])", json},
      {R"("type":"choice","values":["a",null,"b","a"])", {"i", true, "", "u"}},
      {R"("type":"choice","values":[true,false])", {"b", false, "", ""}},
      {R"("type":"choice","values":[])", {"n", true, "", ""}},
      {R"("type":"choice","values":[null,null])", {"n", true, "", ""}},
      // Mixed kinds and nested values are JSON text; a boolean is no number.
      {R"("type":"choice","values":[1,"1"])", json},
      {R"("type":"choice","values":[true,1])", json},
      {R"("type":"choice","values":[[1],{"a":null},null])", {"u", true, "arrow.json", ""}},
  };
  for (const Case& c : cases) {
    const auto planned = plan(std::string(R"([{"name":"x",)") + c.spec + "}]");
    ASSERT_TRUE(std::holds_alternative<ColumnSchema>(planned->result)) << c.spec;
    EXPECT_EQ(first_attribute_field(planned->schema()), c.field) << c.spec;
  }
}

TEST(PlanColumns, ColumnsFollowFirstSpecOrderAndTheLastSpecTypesThem) {
  const auto planned = plan(R"([
      {"name":"b","type":"uniform_int","low":0,"high":1},
      {"name":"é","type":"normal","mean":0,"std_dev":1},
      {"name":"b","type":"choice","values":["x"]}])");
  const ColumnSchema& schema = planned->schema();
  ASSERT_EQ(schema.columns.size(), 2u);
  EXPECT_EQ(schema.columns[0].name, "b");
  EXPECT_EQ(schema.columns[0].kind, ColumnKind::ChoiceDictionary);
  EXPECT_EQ(schema.columns[1].name, "é");
  EXPECT_EQ(schema.columns[1].kind, ColumnKind::Float64);
}

TEST(PlanColumns, ChoiceCellsAreWorkedOutPerValue) {
  const auto planned = plan(R"([
      {"name":"s","type":"choice","values":["b","a","b",null,"é"]},
      {"name":"j","type":"choice","values":[{"b":1,"a":"q\"\n"},null,[],1.5,"t"]},
      {"name":"f","type":"choice","values":[2,-0.0,0.25]}])");
  const ColumnSchema& schema = planned->schema();

  // Distinct strings in first-seen order; each value points at its string.
  const ChoiceCells& s = schema.columns[0].choice;
  EXPECT_EQ(s.text, "baé");
  EXPECT_EQ(s.offsets, (std::vector<std::int32_t>{0, 1, 2, 4}));
  EXPECT_EQ(s.words, (std::vector<std::uint64_t>{0, 1, 0, 0, 2}));
  EXPECT_EQ(s.valid, (std::vector<std::uint8_t>{1, 1, 1, 0, 1}));

  // Each value's JSON text as the writer writes it (keys in byte order), null as no text.
  const ChoiceCells& j = schema.columns[1].choice;
  EXPECT_EQ(j.text, R"({"a":"q\"\n","b":1}[]1.5"t")");
  EXPECT_EQ(j.offsets, (std::vector<std::int32_t>{0, 19, 19, 21, 24, 27}));
  EXPECT_EQ(j.valid, (std::vector<std::uint8_t>{1, 0, 1, 1, 1}));
  EXPECT_EQ(schema.max_cell_text_bytes, 19u);
  EXPECT_EQ(max_batch_rows(schema), 2147483647u / 19);

  const ChoiceCells& f = schema.columns[2].choice;
  EXPECT_EQ(f.words, (std::vector<std::uint64_t>{std::bit_cast<std::uint64_t>(2.0),
                                                 std::bit_cast<std::uint64_t>(-0.0),
                                                 std::bit_cast<std::uint64_t>(0.25)}));
}

TEST(PlanColumns, RefusesTheNameIdAndNamesHoldingNul) {
  struct Case {
    const char* specs;
    const char* message;
  };
  const std::vector<Case> cases = {
      {R"([{"name":"a","type":"uniform_int","low":0,"high":1},
           {"name":"id","type":"uniform_int","low":0,"high":1}])",
       "specs[1] is named \"id\", the name of the id column that begins every batch; give the "
       "attribute another name"},
      {R"([{"name":"a\u0000b","type":"choice","values":[]}])",
       "specs[0]'s name \"a\\u0000b\" holds U+0000, which a column name cannot hold"},
  };
  for (const Case& c : cases) {
    const auto planned = plan(c.specs);
    const auto* error = std::get_if<ColumnSchemaError>(&planned->result);
    ASSERT_NE(error, nullptr) << c.specs;
    EXPECT_EQ(error->message, c.message);
  }
  // Names that merely look like it are columns.
  EXPECT_TRUE(std::holds_alternative<ColumnSchema>(
      plan(
          R"([{"name":"ID","type":"choice","values":[]},{"name":"id ","type":"choice","values":[]}])")
          ->result));
}

}  // namespace
}  // namespace tessary
