#include "pipeline/generate.h"
#include "pipeline/range_plan.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <variant>

namespace tessary {
namespace {

constexpr GenerateLimits NO_LIMITS{std::numeric_limits<std::uint64_t>::max(), 0};

// A choice between a 200,000-character text (weight 1) and the number 1 (weight 999).
std::string rare_long_text_specs() {
  return R"([{"name":"a","type":"choice","values":[")" + std::string(200000, 'x') +
         R"(",1],"weights":[1,999]}])";
}

// Under this seed entity 0 draws the rare long text, so it is far longer than a typical entity.
constexpr std::uint64_t LONG_FIRST_ENTITY_SEED = 3601;

TEST(GenerateEntities, BlocksSizedFromAnUntypicalFirstEntityGiveTheirSpareRoomBack) {
  const std::string specs = rare_long_text_specs();
  const GenerateResult first = generate_entities(LONG_FIRST_ENTITY_SEED, 1, specs, NO_LIMITS);
  ASSERT_TRUE(std::holds_alternative<GeneratedText>(first));
  ASSERT_GT(std::get<GeneratedText>(first).length, 200000u);  // the premise of the test

  constexpr std::uint64_t scale = 5000;
  const GenerateResult result = generate_entities(LONG_FIRST_ENTITY_SEED, scale, specs, NO_LIMITS);
  ASSERT_TRUE(std::holds_alternative<GeneratedText>(result));
  const GeneratedText& text = std::get<GeneratedText>(result);
  std::size_t held = 0;
  for (const std::optional<OutputBuffer>& block : text.blocks) held += block->capacity();
  // The memory the blocks hold until the text is assembled stays near the text's own size, not
  // the first entity's size for every block.
  EXPECT_LE(held, 2 * text.length + text.blocks.size() * OutputBuffer::INITIAL_CAPACITY)
      << "text of " << text.length << " bytes in " << text.blocks.size() << " blocks";
}

TEST(GenerateEntities, BlocksOfSpecsThatWriteLittleAreCutByTheirSamples) {
  // 2,000 specs sharing one name: each entity writes one short member but samples 2,000 times.
  constexpr std::uint64_t spec_count = 2000;
  std::string specs = "[";
  for (std::uint64_t i = 0; i < spec_count; ++i) {
    if (i != 0) specs += ',';
    specs += R"({"name":"x","type":"uniform_int","low":0,"high":9})";
  }
  specs += ']';
  constexpr std::uint64_t scale = 10000;
  const GenerateResult result = generate_entities(1, scale, specs, NO_LIMITS);
  ASSERT_TRUE(std::holds_alternative<GeneratedText>(result));
  const std::size_t blocks = std::get<GeneratedText>(result).blocks.size();
  // Sized by text alone, a block would hold a few thousand of these entities, or a quarter of a
  // thread's share of them.
  const std::uint64_t per_block = MAX_BLOCK_WORK / spec_count;
  EXPECT_GE(blocks, (scale + per_block - 1) / per_block);
}

}  // namespace
}  // namespace tessary
