#include "records/entity_record.h"

#include <gtest/gtest.h>

#include <limits>

#include <string>
#include <vector>

namespace tessary {
namespace {

std::vector<AttrSpec> specs_named(const std::vector<std::string>& names) {
  std::vector<AttrSpec> specs;
  for (const std::string& name : names) specs.push_back({name, UniformInt{0, 1}});
  return specs;
}

TEST(LayoutEntities, RepeatedNamesKeepTheirFirstPosition) {
  struct Case {
    std::vector<std::string> names;
    std::vector<std::string_view> members;
    std::vector<std::uint32_t> member_of_spec;
  };
  const std::vector<Case> cases = {
      {{}, {}, {}},
      {{"a"}, {"a"}, {0}},
      {{"x", "x"}, {"x"}, {0, 0}},
      {{"b", "a", "b", "c", "a"}, {"b", "a", "c"}, {0, 1, 0, 2, 1}},
      {{"id", ""}, {"id", ""}, {0, 1}},
  };
  for (const Case& c : cases) {
    const std::vector<AttrSpec> specs = specs_named(c.names);
    const EntityLayout layout = layout_entities(specs);
    EXPECT_EQ(layout.member_names, c.members);
    EXPECT_EQ(layout.member_of_spec, c.member_of_spec);
    const EntityRecord record = make_entity_record(layout);
    EXPECT_EQ(record.values.size(), c.members.size());
  }
}

TEST(AttributeValue, IntegersTakeTheirKindBySignAndNonFiniteDoublesAreNull) {
  EXPECT_EQ(AttributeValue::from_i64(0).kind, AttributeValue::Kind::Unsigned);
  EXPECT_EQ(AttributeValue::from_i64(-5).kind, AttributeValue::Kind::Negative);
  EXPECT_EQ(AttributeValue::from_i64(-5).i, -5);
  EXPECT_EQ(AttributeValue::from_f64(-0.0).kind, AttributeValue::Kind::Double);
  for (double bad : {1.0 / 0.0, -1.0 / 0.0, std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(AttributeValue::from_f64(bad).kind, AttributeValue::Kind::Null);
  }
}

}  // namespace
}  // namespace tessary
