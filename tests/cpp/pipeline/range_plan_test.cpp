#include "pipeline/range_plan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <variant>

#include "pipeline/prepared_specs.h"

namespace tessary {
namespace {

constexpr std::uint64_t MAX = std::numeric_limits<std::uint64_t>::max();

std::shared_ptr<const PreparedSpecs> specs_of(const char* json) {
  auto prepared = prepare_specs(json);
  return std::move(std::get<std::shared_ptr<const PreparedSpecs>>(prepared));
}

RangePlan plan_of(const PreparedSpecs& specs, std::uint64_t start, std::uint64_t stop,
                  std::uint64_t min_blocks) {
  EntityRecord record = make_entity_record(specs.layout);
  return plan_range(7, start, stop, specs, record, min_blocks, TARGET_STREAM_BLOCK_BYTES);
}

// The blocks tile [start, stop): the first begins at start, each ends where the next begins, the
// last ends at stop, and none is empty. Checked at both ends of the plan (all of it when small),
// which is where an overflowing block_begin/block_end would show.
void expect_tiling(const RangePlan& plan) {
  const std::uint64_t ids = plan.stop - plan.start;
  if (ids == 0) {
    EXPECT_EQ(plan.count, 1u);  // one empty block, the source of "[]" or an empty member
    return;
  }
  ASSERT_GE(plan.count, 1u);
  ASSERT_GE(plan.per_block, 1u);
  EXPECT_EQ(block_begin(plan, 0), plan.start);
  EXPECT_EQ(block_end(plan, plan.count - 1), plan.stop);
  EXPECT_LT(plan.count - 1, ids / plan.per_block + 1);
  const std::uint64_t edge = 100;
  for (std::uint64_t b = 0; b < plan.count; b = (b == edge && plan.count > 2 * edge) ? plan.count - edge : b + 1) {
    const std::uint64_t begin = block_begin(plan, b), end = block_end(plan, b);
    ASSERT_LT(begin, end) << "block " << b;
    ASSERT_GE(begin, plan.start) << "block " << b;
    ASSERT_LE(end, plan.stop) << "block " << b;
    ASSERT_LE(end - begin, plan.per_block) << "block " << b;
    if (b + 1 < plan.count) {
      ASSERT_EQ(end, block_begin(plan, b + 1)) << "block " << b;
    }
  }
}

TEST(RangePlan, BlocksTileEveryRangeUpToTheLastId) {
  const auto specs = specs_of(R"([{"name":"a","type":"uniform_int","low":0,"high":9}])");
  const struct {
    std::uint64_t start, stop;
  } ranges[] = {{0, 0},     {MAX, MAX},         {0, 1},       {MAX - 1, MAX}, {MAX - 63, MAX},
                {MAX - 65, MAX}, {MAX - 1'000'003, MAX}, {0, MAX}, {1, MAX},  {MAX / 2, MAX},
                {12, 1'000'012}};
  for (const auto& range : ranges) {
    for (std::uint64_t min_blocks : {1, 64}) {
      SCOPED_TRACE(std::to_string(range.start) + ".." + std::to_string(range.stop) + " min " +
                   std::to_string(min_blocks));
      expect_tiling(plan_of(*specs, range.start, range.stop, min_blocks));
    }
  }
}

TEST(RangePlan, SmallRangesAreSpreadOverTheAskedBlocksAndLargeOnesCutBySize) {
  const auto specs = specs_of(R"([{"name":"a","type":"uniform_int","low":0,"high":9}])");
  EXPECT_EQ(plan_of(*specs, MAX - 640, MAX, 64).count, 64u);
  EXPECT_EQ(plan_of(*specs, MAX - 10, MAX, 64).count, 10u);  // one id each, no more blocks than ids
  const RangePlan large = plan_of(*specs, 0, MAX, 64);
  // Entities of about 30 bytes: a block holds about the asked bytes of text, ids of 20 digits
  // included, and never more.
  EXPECT_LE(large.per_block * (large.entity_bytes + 21), TARGET_STREAM_BLOCK_BYTES);
  EXPECT_GE(large.per_block * (large.entity_bytes + 21), TARGET_STREAM_BLOCK_BYTES / 2);
}

}  // namespace
}  // namespace tessary
