// Data sets: the table seeds and the draws of a reference are pinned, and a reference's value is
// its parent's own, as the parent table builds it.
#include "datasets/dataset.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "records/entity_record.h"
#include "sampling/build_entity.h"

namespace tessary {
namespace {

const Dataset& read_ok(std::string_view text, std::uint64_t seed, Dataset& out) {
  auto read = read_dataset(text, seed);
  if (const auto* error = std::get_if<ReadError>(&read)) ADD_FAILURE() << error->display();
  out = std::move(std::get<Dataset>(read));
  return out;
}

const DatasetTable& table_named(const Dataset& dataset, std::string_view name) {
  for (const DatasetTable& table : dataset.tables) {
    if (table.table->name == name) return table;
  }
  throw std::runtime_error("no such table");
}

// Entity `id` of a table as a record holds it.
EntityRecord entity_of(const DatasetTable& table, std::uint64_t id) {
  const PreparedSpecs& specs = *table.table->specs;
  EntityRecord record = make_entity_record(specs.layout);
  build_entity(table.table->seed, id, specs.specs, record);
  return record;
}

// Golden: splitmix64(seed ^ fnv1a64(name), 3), as docs/stability.md states it. Changing the mix
// changes every table of every data set.
TEST(TableSeed, IsTheDocumentedMixOfTheSeedAndTheName) {
  EXPECT_EQ(table_seed(42, "orders"), 0x1104E9B761D62A30u);
  EXPECT_NE(table_seed(42, "orders"), table_seed(42, "order"));
}

constexpr std::string_view SHOP = R"json({"tables": [
  {"name": "orders", "scale": 1000, "attributes": [
    {"name": "customer", "type": "reference", "table": "customers"},
    {"name": "city", "type": "reference", "table": "customers", "attribute": "city",
     "same_as": "customer"},
    {"name": "top", "type": "reference", "table": "customers", "distribution": {"zipf": 2}}]},
  {"name": "customers", "scale": 50, "attributes": [
    {"name": "n", "type": "uniform_int", "low": 1, "high": 6, "hidden": true},
    {"name": "city", "type": "template", "template": "city-{n}", "null_rate": 0.3}]}
]})json";

TEST(Reference, CopiesThePickedParentsValueAsTheParentTableBuildsIt) {
  Dataset dataset;
  read_ok(SHOP, 9, dataset);
  const DatasetTable& orders = table_named(dataset, "orders");
  const DatasetTable& customers = table_named(dataset, "customers");
  std::vector<std::uint64_t> picks;
  std::size_t nulls = 0;
  for (std::uint64_t id = 0; id < 1000; ++id) {
    const EntityRecord order = entity_of(orders, id);
    ASSERT_EQ(order.values[0].kind, AttributeValue::Kind::Unsigned);
    const std::uint64_t customer = order.values[0].u;
    ASSERT_LT(customer, 50u);
    const EntityRecord parent = entity_of(customers, customer);
    const AttributeValue& mine = order.values[1];
    const AttributeValue& theirs = parent.values[0];
    ASSERT_EQ(mine.kind, theirs.kind);
    if (mine.kind == AttributeValue::Kind::Null) {
      ++nulls;
    } else {
      EXPECT_EQ(order.text.view().substr(mine.text.offset, mine.text.length),
                parent.text.view().substr(theirs.text.offset, theirs.text.length));
    }
    if (id < 8) picks.push_back(customer);
  }
  EXPECT_GT(nulls, 200u);
  EXPECT_LT(nulls, 400u);
  // Golden: the first picks of a uniform reference, one uniform_index draw each.
  EXPECT_EQ(picks, (std::vector<std::uint64_t>{29, 11, 7, 11, 29, 49, 38, 18}));
}

}  // namespace
}  // namespace tessary
