#include "columns/column_block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "attribute_text.h"
#include "columns/column_test_helpers.h"
#include "sampling/build_entity.h"
#include "sampling/stream_helpers.h"
#include "output/json_writer.h"

namespace tessary {
namespace {

using testing::panic_message;
using testing::plan;

// Every column kind, a repeated name, and a normal that overflows to null now and then.
constexpr std::string_view ALL_KINDS = R"([
    {"name":"i","type":"uniform_int","low":-9223372036854775808,"high":9223372036854775807},
    {"name":"f","type":"uniform_float","low":-1,"high":1},
    {"name":"huge","type":"normal","mean":1e308,"std_dev":1e308},
    {"name":"ci","type":"choice","values":[7,null,-7]},
    {"name":"cf","type":"choice","values":[0.5,1],"weights":[1,3]},
    {"name":"cb","type":"choice","values":[true,false,null]},
    {"name":"cs","type":"choice","values":["zé","a",null,"zé"]},
    {"name":"cj","type":"choice","values":[{"k":[1,"\u0001"]},"s",2,null,[]]},
    {"name":"cn","type":"choice","values":[]},
    {"name":"f","type":"choice","values":[null]}])";

std::string_view view_of(ArrowStringView s) {
  return {s.data, static_cast<std::size_t>(s.size_bytes)};
}

// A batch, checked in full by nanoarrow against the exported schema.
struct BatchView {
  nanoarrow::UniqueSchema schema;
  nanoarrow::UniqueArrayView view;

  BatchView(const ColumnSchema& columns, const ArrowArray* batch) {
    export_arrow_schema(columns, schema.get());
    ArrowError error{};
    EXPECT_EQ(ArrowArrayViewInitFromSchema(view.get(), schema.get(), &error), NANOARROW_OK)
        << error.message;
    EXPECT_EQ(ArrowArrayViewSetArray(view.get(), batch, &error), NANOARROW_OK) << error.message;
    EXPECT_EQ(ArrowArrayViewValidate(view.get(), NANOARROW_VALIDATION_LEVEL_FULL, &error),
              NANOARROW_OK)
        << error.message;
  }
};

// The JSON text of a record's value, as the JSON output writes it.
std::string json_of(const AttributeValue& value) {
  return attribute_text(value);
}

// What a column holds for a record's value, as JSON text: the value's own text, except that a
// float64 choice column holds integers as doubles.
std::string expected_json(const AttributeValue& value, ColumnKind kind) {
  if (kind == ColumnKind::ChoiceFloat64 && value.kind == AttributeValue::Kind::Borrowed &&
      !value.borrowed->is_null()) {
    return json_of(AttributeValue::from_f64(std::get<JsonNumber>(value.borrowed->data).to_f64()));
  }
  return json_of(value);
}

// The JSON text of cell `row` of a column: what json.loads would compare.
std::string cell_json(const ArrowArrayView* column, ColumnKind kind, std::int64_t row) {
  if (ArrowArrayViewIsNull(column, row)) return "null";
  switch (kind) {
    case ColumnKind::Int64:
    case ColumnKind::ChoiceInt64:
      return json_of(AttributeValue::from_i64(ArrowArrayViewGetIntUnsafe(column, row)));
    case ColumnKind::Float64:
    case ColumnKind::ChoiceFloat64:
      return json_of(AttributeValue::from_f64(ArrowArrayViewGetDoubleUnsafe(column, row)));
    case ColumnKind::ChoiceBool:
      return ArrowArrayViewGetIntUnsafe(column, row) != 0 ? "true" : "false";
    case ColumnKind::ChoiceDictionary: {
      const std::int64_t index = ArrowArrayViewGetIntUnsafe(column, row);
      OutputBuffer out;
      write_json_string(view_of(ArrowArrayViewGetStringUnsafe(column->dictionary, index)), out);
      return std::string(out.view());
    }
    case ColumnKind::ChoiceJson:
      return std::string(view_of(ArrowArrayViewGetStringUnsafe(column, row)));
    case ColumnKind::ChoiceNull:
    default:  // the later kinds' cells are checked through Python readers
      break;
  }
  return "<not null>";
}

TEST(BuildColumnBlock, CellsEqualTheRecordsOfTheirIds) {
  const auto planned = plan(ALL_KINDS);
  const ColumnSchema& schema = planned->schema();
  EntityRecord expected = make_entity_record(planned->layout);
  const std::uint64_t seed = 99;
  for (const auto& [begin, end] : {std::pair<std::uint64_t, std::uint64_t>{0, 0},
                                   {5, 6},
                                   {1000, 1777},
                                   {~std::uint64_t{0} - 300, ~std::uint64_t{0}}}) {
    const nanoarrow::UniqueArray batch =
        build_column_block(seed, begin, end, planned->specs, schema);
    const BatchView batch_view(schema, batch.get());
    const ArrowArrayView* view = batch_view.view.get();
    ASSERT_EQ(view->length, static_cast<std::int64_t>(end - begin));
    std::int64_t float_nulls = 0;
    for (std::int64_t row = 0; row < view->length; ++row) {
      const std::uint64_t id = begin + static_cast<std::uint64_t>(row);
      build_entity(seed, id, planned->specs, expected);
      ASSERT_EQ(ArrowArrayViewGetUIntUnsafe(view->children[0], row), id);
      for (std::size_t m = 0; m < schema.columns.size(); ++m) {
        ASSERT_EQ(cell_json(view->children[m + 1], schema.columns[m].kind, row),
                  expected_json(expected.values[m], schema.columns[m].kind))
            << "column " << schema.columns[m].name << ", id " << id;
      }
      float_nulls += ArrowArrayViewIsNull(view->children[3], row);
    }
    if (end - begin > 100) {
      EXPECT_GT(float_nulls, 0) << "the overflowing normal made no null";
    }
  }
}

TEST(BuildColumnBlock, BuffersLargerThanAHugePageHoldTheirCells) {
  // 2^18 + 3 rows: the int64 cells take just over 2 MiB, and the text, reserved at the average
  // length but always given the long value, grows past 2 MiB by reallocation.
  const auto planned = plan(R"([
      {"name":"i","type":"uniform_int","low":0,"high":1000000},
      {"name":"j","type":"choice","values":[[],"0123456789abcdefghijklmnopqrstuvwxyz"],
       "weights":[0,1]}])");
  EntityRecord expected = make_entity_record(planned->layout);
  const std::uint64_t rows = (1 << 18) + 3;
  const nanoarrow::UniqueArray batch =
      build_column_block(5, 0, rows, planned->specs, planned->schema());
  const BatchView batch_view(planned->schema(), batch.get());
  const ArrowArrayView* view = batch_view.view.get();
  ASSERT_EQ(view->length, static_cast<std::int64_t>(rows));
  for (std::uint64_t id = 0; id < rows; id += 997) {
    build_entity(5, id, planned->specs, expected);
    const auto row = static_cast<std::int64_t>(id);
    EXPECT_EQ(ArrowArrayViewGetIntUnsafe(view->children[1], row), expected.values[0].i);
    EXPECT_EQ(view_of(ArrowArrayViewGetStringUnsafe(view->children[2], row)),
              "\"0123456789abcdefghijklmnopqrstuvwxyz\"");
  }
}

TEST(BuildColumnBlock, ColumnsWithoutNullsCarryNoBitmap) {
  const auto planned = plan(R"([
      {"name":"f","type":"uniform_float","low":0,"high":1},
      {"name":"c","type":"choice","values":["a",null],"weights":[1,0]}])");
  const nanoarrow::UniqueArray batch =
      build_column_block(1, 0, 100, planned->specs, planned->schema());
  for (std::int64_t c = 1; c < 3; ++c) {
    EXPECT_EQ(batch->children[c]->null_count, 0) << c;
    EXPECT_EQ(batch->children[c]->buffers[0], nullptr) << c;
  }
}

TEST(BuildColumnBlock, TheFirstFailingEntityPanicsAndTheBatchIsReleased) {
  // The weighted pick lands on the missing second value for about one entity in a hundred.
  const auto planned = plan(R"([
      {"name":"s","type":"choice","values":["a","b","c"]},
      {"name":"c","type":"choice","values":[1],"weights":[1,0.01]}])");
  EntityRecord record = make_entity_record(planned->layout);
  std::uint64_t first_failure = 0;
  while (panic_message([&] { build_entity(3, first_failure, planned->specs, record); }) ==
         "<no panic>") {
    ++first_failure;
  }
  ASSERT_GT(first_failure, 0u);
  // A batch that ends before the failure is whole; one that reaches it panics (the sanitizer run
  // checks that nothing of it leaks).
  EXPECT_EQ(
      build_column_block(3, 0, first_failure, planned->specs, planned->schema())->length,
      static_cast<std::int64_t>(first_failure));
  EXPECT_EQ(panic_message([&] {
              build_column_block(3, 0, first_failure + 50, planned->specs, planned->schema());
            }),
            "index out of bounds: the len is 1 but the index is 1");
}

TEST(BuildColumnBlock, AnUnusableAttributeFailsTheFirstEntityAsBuildingItDoes) {
  // The pick before the unusable float range fails now and then, and then its failure comes first.
  const auto planned = plan(R"([
      {"name":"c","type":"choice","values":[1],"weights":[1,0.1]},
      {"name":"f","type":"uniform_float","low":1,"high":0}])");
  EntityRecord record = make_entity_record(planned->layout);
  std::set<std::string> messages;
  for (std::uint64_t first = 0; first < 60; ++first) {
    const std::string expected =
        panic_message([&] { build_entity(4, first, planned->specs, record); });
    messages.insert(expected);
    EXPECT_EQ(panic_message([&] {
                build_column_block(4, first, first + 3, planned->specs, planned->schema());
              }),
              expected)
        << "first id " << first;
  }
  EXPECT_EQ(messages.size(), 2u) << "both failures should come first for some entity";
  // No entity, no failure.
  EXPECT_EQ(build_column_block(4, 9, 9, planned->specs, planned->schema())->length, 0);
}

TEST(BuildColumnBlock, RefusesASchemaPlannedFromOtherAttributes) {
  // The same text read twice: the schema's choice table indexes the other copy's values.
  const auto planned = plan(R"([{"name":"c","type":"choice","values":["a","b"]}])");
  const auto other = plan(R"([{"name":"c","type":"choice","values":["a","b"]}])");
  const auto numeric = plan(R"([{"name":"c","type":"uniform_float","low":0,"high":1}])");
  for (const auto* specs : {&other->specs, &numeric->specs}) {
    EXPECT_EQ(panic_message([&] { build_column_block(1, 0, 1, *specs, planned->schema()); }),
              "column schema does not match its attribute specs");
  }
}

}  // namespace
}  // namespace tessary
