// The shipped stream vectors: every case regenerates bit for bit, takes the sampler paths it
// claims, and together the cases claim every path of every sampler.
#include "stream_vectors.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sampling/sampler_paths.h"
#include "specs/read_specs.h"

namespace tessary {
namespace {

using testing::PathSet;
using vectors::StreamCase;
using vectors::StreamVectors;

const StreamVectors& shipped() {
  static const StreamVectors loaded = [] {
    auto result = vectors::load_stream_vectors(TESSARY_SOURCE_DIR
                                               "/python/tessary/data/stream_vectors.json");
    if (const std::string* error = std::get_if<std::string>(&result)) {
      ADD_FAILURE() << *error;
      return StreamVectors{};
    }
    return std::get<StreamVectors>(std::move(result));
  }();
  return loaded;
}

TEST(StreamVectors, EveryCaseRegeneratesBitForBit) {
  ASSERT_EQ(shipped().stream_version, 2u);
  ASSERT_GE(shipped().cases.size(), 40u);
  for (const StreamCase& c : shipped().cases) {
    EXPECT_EQ(vectors::check_case(c), "") << c.name;
  }
}

TEST(StreamVectors, AnyChangedByteOfACaseIsCaught) {
  const StreamCase& original = shipped().cases.at(0);
  ASSERT_FALSE(original.first.empty());
  StreamCase changed_digest = original;
  changed_digest.sha256[5] = changed_digest.sha256[5] == '0' ? '1' : '0';
  EXPECT_NE(vectors::check_case(changed_digest), "");
  StreamCase changed_entity = original;
  changed_entity.first[0].back() = ' ';
  EXPECT_NE(vectors::check_case(changed_entity), "");
  StreamCase longer_range = original;  // the digest covers every entity of the range
  longer_range.first.clear();
  ++longer_range.stop;
  EXPECT_NE(vectors::check_case(longer_range), "");
}

PathSet paths_taken(const StreamCase& c) {
  auto read = read_specs(c.specs);
  EXPECT_TRUE(std::holds_alternative<std::vector<AttrSpec>>(read)) << c.name;
  if (!std::holds_alternative<std::vector<AttrSpec>>(read)) return {};
  const auto& specs = std::get<std::vector<AttrSpec>>(read);
  PathSet taken;
  for (std::uint64_t id = c.start; id < c.stop; ++id) {
    taken.merge(testing::entity_paths(c.seed, id, specs));
  }
  for (const std::string& text : c.first) testing::text_paths(text, taken);
  if (c.start == c.stop) taken.insert("range.empty");
  return taken;
}

TEST(StreamVectors, EveryCaseTakesThePathsItClaims) {
  for (const StreamCase& c : shipped().cases) {
    EXPECT_FALSE(c.paths.empty()) << c.name;
    const PathSet taken = paths_taken(c);
    for (const std::string& path : c.paths) {
      EXPECT_TRUE(taken.count(path)) << c.name << " never takes " << path;
    }
  }
}

TEST(StreamVectors, TheCasesClaimEverySamplerPath) {
  // Left out: uniform_float.shrink, which round-to-nearest arithmetic never takes (the first
  // scale always fits), and normal.nan_clamped, which needs a NaN that finite parameters cannot
  // give; the sampler tests cover both loops on their own.
  const std::vector<std::string> required = {
      "uniform_int.one_draw", "uniform_int.correction", "uniform_int.full_range",
      "uniform_float.draw", "uniform_float.tiny_range", "uniform_float.huge_range",
      "uniform_float.rounded_scale", "normal.main", "normal.wedge_accept", "normal.wedge_reject",
      "normal.tail", "normal.tail_retry", "normal.clamp_min", "normal.clamp_max",
      "normal.min_above_max", "normal.overflow_null", "normal.negative_zero",
      "normal.zero_at_bound", "choice.empty", "choice.uniform", "choice.uniform_correction",
      "choice.weighted", "choice.zero_weight_passed", "choice.zero_total",
      "choice.negative_weight", "text.non_ascii", "text.escapes", "names.repeated", "specs.none",
      "ids.top_of_u64", "sequence.value", "unique_int.one_pass", "unique_int.cycle_walk",
      "uuid.draw", "bernoulli.draw", "exponential.draw", "lognormal.draw", "geometric.draw",
      "poisson.inversion", "poisson.ptrs", "poisson.ptrs_retry", "zipf.first_try", "zipf.retry",
      "timestamp.before_1970", "timestamp.leap_day", "date.before_1970", "date.leap_day",
      "nulls.null", "pattern.draw", "template.fields", "const.value", "expression.value",
      "expression.null", "switch.case", "switch.default", "switch.no_case", "names.hidden"};
  PathSet claimed;
  for (const StreamCase& c : shipped().cases) claimed.insert(c.paths.begin(), c.paths.end());
  for (const std::string& path : required) EXPECT_TRUE(claimed.count(path)) << path;
}

// The path recorder itself, on first draws chosen to land in each part of the ziggurat: low byte
// the layer, upper 52 bits the position (0x800... is u = 0, all ones is u just below 1).
TEST(SamplerPaths, TellTheZigguratPartOfTheFirstAttempt) {
  const AttrSpec spec{"z", Normal{0.0, 1.0, std::nullopt, std::nullopt}};
  const struct {
    std::uint64_t first_draw;
    std::vector<std::string> expected;
  } table[] = {
      {0x8000000000000005, {"normal.main"}},         // u = 0 lies inside any layer
      {0x0000000000001000, {"normal.tail"}},         // layer 0, u = -1: beyond R
  };
  for (const auto& row : table) {
    Xoshiro256PlusPlus rng = testing::rng_drawing_first(row.first_draw);
    PathSet paths;
    testing::attribute_paths(spec, rng, paths);
    for (const std::string& path : row.expected) EXPECT_TRUE(paths.count(path)) << path;
  }
  // Layer 100 near its outer edge: the wedge test, accepted or rejected by the next draw.
  Xoshiro256PlusPlus rng = testing::rng_drawing_first(0xFFFFFFFFFFFFF064);
  PathSet paths;
  testing::attribute_paths(spec, rng, paths);
  EXPECT_TRUE(paths.count("normal.wedge_accept") || paths.count("normal.wedge_reject"));
  EXPECT_FALSE(paths.count("normal.main") || paths.count("normal.tail"));
}

}  // namespace
}  // namespace tessary
