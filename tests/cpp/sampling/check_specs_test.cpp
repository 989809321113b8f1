#include "sampling/check_specs.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "sampling/build_entity.h"
#include "sampling/stream_helpers.h"
#include "specs/read_specs.h"

namespace tessary {
namespace {

using testing::panic_message;

// A problem as the table states it: severity, message, spec index (-1 for none), line, column.
struct Expected {
  const char* severity;
  std::string message;
  int index;
  std::size_t line;
  std::size_t column;
};

// The pieces joined by appends: GCC 12 flags `"literal" + std::string` with a false -Wrestrict
// when it inlines it at -O3.
template <class... Pieces>
std::string concat(const Pieces&... pieces) {
  std::string text;
  (text.append(pieces), ...);
  return text;
}

std::string int_spec(const char* name, int low, int high) {
  return std::string(R"({"name":")") + name + R"(","type":"uniform_int","low":)" +
         std::to_string(low) + R"(,"high":)" + std::to_string(high) + "}";
}

std::string choice(const char* name, const char* values, const char* weights) {
  return std::string(R"({"name":")") + name + R"(","type":"choice","values":)" + values +
         R"(,"weights":)" + weights + "}";
}

TEST(CheckSpecs, EachRuleInDocumentOrderAtTheSpecsPosition) {
  const std::string range_error = "called `Result::unwrap()` on an `Err` value: ";
  struct Case {
    const char* label;
    std::string text;
    std::vector<Expected> problems;
  };
  const std::vector<Case> cases = {
      {"clean, with what is not a problem",
       concat("[", int_spec("a", 1, 1), R"(,{"name":"n","type":"normal","mean":1,"std_dev":-2},)",
              choice("p", "[]", "[0,5]"), ",", choice("q", "[1,2]", "[]"), ",",
              choice("r", R"(["a","b","c"])", "[1e308,1e308,0]"), ",",
              choice("s", "[1,2]", "[1,1,0]"), "]"),
       {}},
      {"the reader's error alone, at its own position",
       concat("[\n", int_spec("a", 2, 1), ",\n {}]"),
       {{"error", "missing field `name` at line 3 column 3", -1, 3, 3}}},
      {"the samplers' own messages, each spec at its \"{\"",
       concat("[ ", int_spec("a", 2, 1), ",\n",
              R"(  {"name":"f","type":"uniform_float","low":1,"high":1},)", "\n",
              R"({"name":"g","type":"uniform_float","low":-1e308,"high":1e308}])"),
       {{"error", "cannot sample empty range", 0, 1, 3},
        {"error", range_error + "EmptyRange", 1, 2, 3},
        {"error", range_error + "NonFinite", 2, 3, 1}}},
      {"picks past the values: always one position, always several, sometimes",
       concat("[", choice("e", "[1]", "[0,1]"), ",", choice("f", "[1]", "[0,1,3]"), ",",
              choice("g", "[1]", "[1,1,1,1]"), ",", choice("h", "[1,2]", "[1,1,2]"), ",",
              choice("i", "[1]", "[1e308,1e308]"), "]"),
       {{"error", "index out of bounds: the len is 1 but the index is 1", 0, 1, 2},
        {"error",
         "index out of bounds: the len is 1 but the index is between 1 and 2 (by the draw)", 1, 1,
         60},
        {"may fail",
         "about 75% of entities fail: their pick can land on weights 1 to 3, past the 1 value", 2,
         1, 120},
        {"may fail",
         "about 50% of entities fail: their pick can land on weight 2, past the 2 values", 3, 1,
         182},
        {"may fail",
         "about 50% of entities fail: their pick can land on weight 1, past the 1 value", 4, 1,
         244}}},
      {"warnings",
       concat("[", int_spec("id", 1, 2), ",",
              R"({"name":"z","type":"normal","mean":0,"std_dev":1,"min":10,"max":5e-1},)",
              choice("j", "[1,2]", "[0,0]"), ",", int_spec("j", 0, 1), "]"),
       {{"warning", "the name \"id\" makes a second \"id\" member beside the entity's id", 0, 1, 2},
        {"warning", "min 10.0 is above max 0.5: every value is the max", 1, 1, 54},
        {"warning", "all weights are 0: every pick is the first value", 2, 1, 124},
        {"warning", "the name is also that of spec 2, whose values this spec overwrites", 3, 1,
         184}}},
  };
  for (const Case& c : cases) {
    const std::vector<SpecProblem> problems = check_specs(c.text);
    ASSERT_EQ(problems.size(), c.problems.size()) << c.label;
    for (std::size_t i = 0; i < problems.size(); ++i) {
      const SpecProblem& got = problems[i];
      const Expected& want = c.problems[i];
      EXPECT_STREQ(severity_name(got.severity), want.severity) << c.label << ", problem " << i;
      EXPECT_EQ(got.message, want.message) << c.label << ", problem " << i;
      EXPECT_EQ(got.index, want.index < 0 ? std::nullopt : std::optional<std::size_t>(want.index))
          << c.label << ", problem " << i;
      EXPECT_EQ(got.line, want.line) << c.label << ", problem " << i;
      EXPECT_EQ(got.column, want.column) << c.label << ", problem " << i;
    }
  }
}

// An error is the message with which building fails, for every entity.
TEST(CheckSpecs, AnErrorIsWhatBuildingRaises) {
  const std::string docs[] = {
      concat("[", int_spec("a", 3, 2), "]"),
      R"([{"name":"f","type":"uniform_float","low":0,"high":-1}])",
      concat("[", choice("k", "[1,2]", "[0,0,7]"), "]"),
      concat("[", choice("l", "[1]", "[0,1,1]"), "]"),
  };
  for (const std::string& doc : docs) {
    const std::vector<SpecProblem> problems = check_specs(doc);
    ASSERT_EQ(problems.size(), 1u) << doc;
    const std::vector<AttrSpec> specs = std::get<std::vector<AttrSpec>>(read_specs(doc));
    const EntityLayout layout = layout_entities(specs);
    EntityRecord record = make_entity_record(layout);
    for (std::uint64_t index = 0; index < 50; ++index) {
      const std::string message = panic_message([&] { build_entity(9, index, specs, record); });
      // Where several positions are possible the error names their range.
      const std::string stated = problems[0].message;
      const std::size_t between = stated.find("between ");
      if (between == std::string::npos) {
        EXPECT_EQ(message, stated) << doc;
      } else {
        EXPECT_EQ(message.substr(0, between), stated.substr(0, between)) << doc;
      }
    }
  }
}

}  // namespace
}  // namespace tessary
