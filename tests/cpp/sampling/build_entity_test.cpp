#include "sampling/build_entity.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "sampling/example_specs.h"
#include "sampling/stream_helpers.h"

namespace tessary {
namespace {

using testing::five_example_specs;
using testing::panic_message;

// Builds entity `index` into a fresh record; the layout must outlive the result.
EntityRecord build(std::uint64_t seed, std::uint64_t index, const std::vector<AttrSpec>& specs,
                   const EntityLayout& layout) {
  EntityRecord record = make_entity_record(layout);
  build_entity(seed, index, specs, record);
  return record;
}

std::uint64_t unsigned_of(const AttributeValue& v) {
  EXPECT_EQ(v.kind, AttributeValue::Kind::Unsigned);
  return v.u;
}

std::uint64_t double_bits_of(const AttributeValue& v) {
  EXPECT_EQ(v.kind, AttributeValue::Kind::Double);
  return std::bit_cast<std::uint64_t>(v.d);
}

// The unsigned number a borrowed choice value holds.
std::uint64_t choice_of(const AttributeValue& v) {
  EXPECT_EQ(v.kind, AttributeValue::Kind::Borrowed);
  return std::get<JsonNumber>(v.borrowed->data).u;
}

TEST(BuildEntity, Seed42AgesMatchTheWorkedExample) {
  const std::vector<AttrSpec> specs = {{"age", UniformInt{18, 80}}};
  const EntityLayout layout = layout_entities(specs);
  const std::uint64_t ages[] = {58, 52, 69, 31, 64};
  for (std::uint64_t index = 0; index < 5; ++index) {
    const EntityRecord record = build(42, index, specs, layout);
    EXPECT_EQ(record.id, index);
    EXPECT_EQ(unsigned_of(record.values[0]), ages[index]) << "entity " << index;
  }
}

TEST(BuildEntity, Seed7FiveSpecsMatchTheWorkedExampleBitForBit) {
  struct Entity {
    std::uint64_t age;
    double score;
    double iq;
    std::uint64_t pick;
    std::uint64_t weighted;
  };
  const Entity expected[] = {
      {58, 0.8362821032975445, 72.40703103282276, 20, 10},
      {43, 0.9663276078270993, 87.84427816250883, 30, 10},
      {31, 0.26362689194347033, 113.74316773750891, 10, 20},
  };
  const std::vector<AttrSpec> specs = five_example_specs();
  const EntityLayout layout = layout_entities(specs);
  EntityRecord record = make_entity_record(layout);  // reused across entities, as the pipeline does
  for (std::uint64_t index = 0; index < 3; ++index) {
    build_entity(7, index, specs, record);
    const Entity& e = expected[index];
    EXPECT_EQ(record.id, index);
    EXPECT_EQ(unsigned_of(record.values[0]), e.age) << index;
    EXPECT_EQ(double_bits_of(record.values[1]), std::bit_cast<std::uint64_t>(e.score)) << index;
    EXPECT_EQ(double_bits_of(record.values[2]), std::bit_cast<std::uint64_t>(e.iq)) << index;
    EXPECT_EQ(choice_of(record.values[3]), e.pick) << index;
    EXPECT_EQ(choice_of(record.values[4]), e.weighted) << index;
  }
}

TEST(BuildEntity, RepeatedNameKeepsTheLastValueAndEveryDraw) {
  // With the name shared, x holds what the third spec drew, after the first spec's draw.
  const std::vector<AttrSpec> repeated = {
      {"x", UniformInt{0, 1000000}}, {"y", UniformFloat{0.0, 1.0}}, {"x", UniformInt{18, 80}}};
  const std::vector<AttrSpec> distinct = {
      {"a", UniformInt{0, 1000000}}, {"y", UniformFloat{0.0, 1.0}}, {"b", UniformInt{18, 80}}};
  const std::vector<AttrSpec> without_first = {{"y", UniformFloat{0.0, 1.0}},
                                               {"x", UniformInt{18, 80}}};
  const EntityLayout repeated_layout = layout_entities(repeated);
  const EntityLayout distinct_layout = layout_entities(distinct);
  const EntityLayout without_layout = layout_entities(without_first);
  int shifted = 0;
  for (std::uint64_t index = 0; index < 20; ++index) {
    const EntityRecord r = build(3, index, repeated, repeated_layout);
    const EntityRecord d = build(3, index, distinct, distinct_layout);
    const EntityRecord w = build(3, index, without_first, without_layout);
    ASSERT_EQ(r.values.size(), 2u);
    EXPECT_EQ(unsigned_of(r.values[0]), unsigned_of(d.values[2]));  // x: the last spec's value
    EXPECT_EQ(double_bits_of(r.values[1]), double_bits_of(d.values[1]));
    shifted += double_bits_of(r.values[1]) != double_bits_of(w.values[0]);
  }
  EXPECT_EQ(shifted, 20);  // dropping the first x changes what y draws
}

TEST(BuildEntity, EmptyChoiceTakesNoDraw) {
  const std::vector<AttrSpec> with_empty = {{"none", Choice{}}, {"age", UniformInt{18, 80}}};
  const std::vector<AttrSpec> alone = {{"age", UniformInt{18, 80}}};
  const EntityLayout with_layout = layout_entities(with_empty);
  const EntityLayout alone_layout = layout_entities(alone);
  for (std::uint64_t index = 0; index < 5; ++index) {
    const EntityRecord r = build(42, index, with_empty, with_layout);
    EXPECT_EQ(r.values[0].kind, AttributeValue::Kind::Null);
    EXPECT_EQ(unsigned_of(r.values[1]),
              unsigned_of(build(42, index, alone, alone_layout).values[0]));
  }
}

TEST(BuildEntity, EmptySpecListGivesJustTheId) {
  const std::vector<AttrSpec> specs;
  const EntityLayout layout = layout_entities(specs);
  const EntityRecord record = build(1, 12345, specs, layout);
  EXPECT_EQ(record.id, 12345u);
  EXPECT_TRUE(record.values.empty());
}

TEST(BuildEntity, FailuresEndTheBuildWithTheFirstFailingSpecsMessage) {
  struct Case {
    const char* label;
    std::vector<AttrSpec> specs;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"first of two bad specs decides",
       {{"a", UniformInt{18, 80}},
        {"b", Normal{0, std::numeric_limits<double>::infinity(), {}, {}}},
        {"c", UniformInt{2, 1}}},
       "called `Result::unwrap()` on an `Err` value: BadVariance"},
      {"a repeated name still checks the earlier spec",
       {{"a", UniformFloat{1, 1}}, {"a", UniformInt{0, 1}}},
       "called `Result::unwrap()` on an `Err` value: EmptyRange"},
  };
  for (const Case& c : cases) {
    const EntityLayout layout = layout_entities(c.specs);
    EntityRecord record = make_entity_record(layout);
    EXPECT_EQ(panic_message([&] { build_entity(0, 0, c.specs, record); }), c.message) << c.label;
  }
}

TEST(BuildEntity, RecordOfAnotherSpecListIsRefused) {
  const std::vector<AttrSpec> specs = five_example_specs();
  const std::vector<AttrSpec> fewer(specs.begin(), specs.begin() + 2);
  const EntityLayout layout = layout_entities(fewer);
  EntityRecord record = make_entity_record(layout);
  EXPECT_EQ(panic_message([&] { build_entity(0, 0, specs, record); }),
            "entity record does not match its attribute specs");
  EntityRecord unshaped;
  EXPECT_EQ(panic_message([&] { build_entity(0, 0, specs, unshaped); }),
            "entity record does not match its attribute specs");
}

}  // namespace
}  // namespace tessary
