// The contract every kind states in its unit, checked over all of them at once.
#include "kinds/kind_list.h"

#include <gtest/gtest.h>

#include "sampling/sample_value.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "attribute_text.h"
#include "datasets/dataset.h"
#include "random/xoshiro.h"
#include "specs/read_specs.h"

namespace tessary {
namespace {

constexpr std::int64_t kMinI64 = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMaxI64 = std::numeric_limits<std::int64_t>::max();
constexpr double kMaxF64 = std::numeric_limits<double>::max();

// Usable parameters of every kind, reaching for the widest and narrowest texts.
std::vector<AttrKind> usable_kinds() {
  std::vector<AttrKind> kinds = {
      UniformInt{kMinI64, kMaxI64},
      UniformInt{kMinI64, kMinI64 + 9},
      UniformInt{0, 9},
      UniformFloat{0.0, 1.0},
      UniformFloat{-kMaxF64 / 2, kMaxF64 / 2},
      UniformFloat{1e-300, 2e-300},
      Normal{0.0, 1e300, std::nullopt, std::nullopt},
      Normal{0.0, 1e-5, -1e-320, std::nullopt},
      Normal{0.0, 1.0, 0.0, 0.0},
      make_choice({}, {}),
      make_choice({JsonNumber::from_u64(7), JsonValue{std::string("a longer \"text\"\n")},
                   JsonValue{}},
                  {}),
      make_choice({JsonValue{true}, JsonValue{std::vector<JsonValue>{}}}, {1.0, 3.0}),
      make_choice({JsonValue{std::string("d\xc3\xa9j\xc3\xa0")}, JsonValue{std::string("a")}},
                  {}),
  };
  // The later kinds, read from a document so that their members are derived as the reader does.
  auto read = read_specs(R"json([
    {"name": "a", "type": "sequence", "start": -9223372036854775808, "step": 3},
    {"name": "a", "type": "sequence"},
    {"name": "a", "type": "unique_int", "low": -9223372036854775808, "high": 9223372036854775807},
    {"name": "a", "type": "unique_int", "low": 5, "high": 5},
    {"name": "a", "type": "uuid"},
    {"name": "a", "type": "timestamp", "start": "0001-01-01T00:00:00Z",
     "end": "9999-12-31T23:59:59.999999Z", "unit": "us"},
    {"name": "a", "type": "timestamp", "start": "1969-12-31T23:59:59.5+01:00",
     "end": "1970-01-01T00:00:00Z", "unit": "ms"},
    {"name": "a", "type": "date", "start": "0001-01-01", "end": "9999-12-31"},
    {"name": "a", "type": "bernoulli", "p": 0.5},
    {"name": "a", "type": "exponential", "mean": 1e300},
    {"name": "a", "type": "exponential", "mean": 3, "decimals": 2},
    {"name": "a", "type": "lognormal", "mu": 700, "sigma": 30},
    {"name": "a", "type": "poisson", "mean": 0},
    {"name": "a", "type": "poisson", "mean": 1e9},
    {"name": "a", "type": "geometric", "p": 4e-18},
    {"name": "a", "type": "geometric", "p": 1},
    {"name": "a", "type": "zipf", "n": 9007199254740992, "s": 0.01},
    {"name": "a", "type": "zipf", "n": 1, "s": 2},
    {"name": "a", "type": "const", "value": {"k": [1, "\u00e9", null]}},
    {"name": "a", "type": "const", "value": -7},
    {"name": "t", "type": "template", "template": "{a}-{id:020d}-{{x}}"},
    {"name": "t", "type": "template", "template": "{a:upper}"},
    {"name": "s", "type": "switch", "on": "a", "cases": [
      {"when": [null, 1.0], "then": {"type": "uniform_int", "low": -5, "high": 5}}]},
    {"name": "s", "type": "switch", "on": "t", "cases": [
      {"when": "x", "then": {"type": "uuid"}}],
      "default": {"type": "choice", "values": [true, "a longer text"]}},
    {"name": "p", "type": "pattern", "pattern": "(ab|\u00e9{2,3})[x-z\\d]{0,4}\\n"},
    {"name": "e", "type": "expression", "expression": "a * 2 + id"},
    {"name": "e", "type": "expression", "expression": "round(id / 3, 2)", "as": "int"}
  ])json");
  for (AttrSpec& spec : std::get<std::vector<AttrSpec>>(read)) kinds.push_back(std::move(spec.kind));
  // References, which only a data set's table holds: to an id, a number, a string of the parent's
  // text, a nullable choice and a reference of the parent's own.
  auto dataset = read_dataset(R"json({"tables": [
    {"name": "child", "scale": 3, "attributes": [
      {"name": "a", "type": "reference", "table": "parent"},
      {"name": "a", "type": "reference", "table": "parent", "attribute": "n", "same_as": "a"},
      {"name": "a", "type": "reference", "table": "parent", "attribute": "t",
       "distribution": {"zipf": 1.5}},
      {"name": "a", "type": "reference", "table": "parent", "attribute": "c"},
      {"name": "a", "type": "reference", "table": "parent", "attribute": "g"}]},
    {"name": "parent", "scale": 9007199254740992, "attributes": [
      {"name": "n", "type": "uniform_int", "low": -9223372036854775808, "high": 9223372036854775807},
      {"name": "t", "type": "template", "template": "é{n}"},
      {"name": "c", "type": "choice", "values": [1, "two"], "null_rate": 0.5},
      {"name": "g", "type": "reference", "table": "grandparent", "attribute": "u"}]},
    {"name": "grandparent", "scale": 2, "attributes": [{"name": "u", "type": "uuid"}]}
  ]})json", 5);
  for (const DatasetTable& table : std::get<Dataset>(dataset).tables) {
    if (table.table->name != "child") continue;
    for (const AttrSpec& spec : table.table->specs->specs) kinds.push_back(spec.kind);
  }
  return kinds;
}

TEST(KindUnits, EveryValueDrawnLiesWithinTheTextBoundsItsKindStates) {
  std::set<std::size_t> kinds_seen;
  OutputBuffer scratch;
  for (const AttrKind& kind : usable_kinds()) {
    kinds_seen.insert(kind.index());
    std::visit(
        [&]<class K>(const K& params) {
          SCOPED_TRACE(K::NAME);
          ASSERT_EQ(K::fault(params), ParamFault::None);
          EXPECT_GE(K::work(params), 1u);
          const ValueTextBounds bounds = K::text_bounds(params, scratch);
          ASSERT_LE(bounds.shortest, bounds.longest);
          std::size_t shortest = SIZE_MAX, longest = 0;
          for (std::uint64_t seed = 0; seed < 4000; ++seed) {
            Xoshiro256PlusPlus rng = seed_from_u64(seed);
            const std::string text = testing::sample_text(params, rng);
            shortest = std::min(shortest, text.size());
            longest = std::max(longest, text.size());
            if (bounds.ascii) {
              EXPECT_TRUE(is_ascii(text)) << text;
            }
          }
          EXPECT_GE(shortest, bounds.shortest);
          EXPECT_LE(longest, bounds.longest);
        },
        kind);
  }
  // A kind added to the list needs cases above.
  EXPECT_EQ(kinds_seen.size(), KIND_COUNT);
}

}  // namespace
}  // namespace tessary
