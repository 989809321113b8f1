#include "random/xoshiro.h"

#include <gtest/gtest.h>

#include <bit>

#include <cstdint>
#include <limits>

namespace tessary {
namespace {

TEST(SeedFromU64, ZeroGivesTheKnownStateAndOutputs) {
  Xoshiro256PlusPlus rng = seed_from_u64(0);
  EXPECT_EQ(rng.s0, 0xE220A8397B1DCDAFu);
  EXPECT_EQ(rng.s1, 0x6E789E6AA1B965F4u);
  EXPECT_EQ(rng.s2, 0x06C45D188009454Fu);
  EXPECT_EQ(rng.s3, 0xF88BB8A8724C81ECu);
  EXPECT_EQ(rng.s0, ZERO_SEED_S0);
  EXPECT_EQ(rng.s3, ZERO_SEED_S3);
  EXPECT_EQ(rng.next_u64(), 0x53175D61490B23DFu);
  EXPECT_EQ(rng.next_u64(), 0x61DA6F3DC380D507u);
  EXPECT_EQ(rng.next_u64(), 0x5C0FDF91EC9A7BFCu);
}

TEST(EntityRng, Seed42Index0StartsWithTheKnownOutputs) {
  Xoshiro256PlusPlus rng = entity_rng(42, 0);
  EXPECT_EQ(rng.next_u64(), 0xA2966B472DF7D7C1u);
  EXPECT_EQ(rng.next_u64(), 0x861DE5756D74AD26u);
  EXPECT_EQ(rng.next_u64(), 0xEA86C260C32876FFu);
}

bool same_stream(Xoshiro256PlusPlus a, Xoshiro256PlusPlus b) {
  for (int step = 0; step < 8; ++step) {
    if (a.next_u64() != b.next_u64()) return false;
  }
  return true;
}

TEST(EntityRng, StreamDependsOnSeedPlusIndexOnly) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  struct Case {
    std::uint64_t seed_a, index_a, seed_b, index_b;
  };
  const Case cases[] = {
      {0, 0, 0, 0},    {5, 3, 6, 2},    {7, 100, 107, 0},
      {kMax, 1, 0, 0}, {kMax, 2, 1, 0}, {123456789, 1, 123456790, 0},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(same_stream(entity_rng(c.seed_a, c.index_a), entity_rng(c.seed_b, c.index_b)))
        << c.seed_a << "/" << c.index_a << " vs " << c.seed_b << "/" << c.index_b;
  }
  EXPECT_TRUE(same_stream(entity_rng(0, 0), seed_from_u64(0)));
  EXPECT_FALSE(same_stream(entity_rng(42, 0), entity_rng(42, 1)));
}

TEST(Conversions, EachTakesOneStepAndStaysInRange) {
  // Feed known raw draws through the conversions by giving each a copy of the same generator.
  Xoshiro256PlusPlus base = seed_from_u64(99);
  for (int i = 0; i < 10000; ++i) {
    Xoshiro256PlusPlus raw = base, a = base, b = base, c = base, d = base;
    const std::uint64_t x = raw.next_u64();
    const double unit = unit_f64(a);
    const double mantissa = mantissa_f64(b);
    const double open = open01_f64(c);
    EXPECT_EQ(unit, static_cast<double>(x >> 11) / 9007199254740992.0);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(mantissa), (x >> 12) | 0x3FF0000000000000u);
    EXPECT_EQ(open, mantissa - (1.0 - 0x1p-53));
    EXPECT_EQ(d.next_u32(), static_cast<std::uint32_t>(x >> 32));
    EXPECT_GE(unit, 0.0);
    EXPECT_LT(unit, 1.0);
    EXPECT_GT(open, 0.0);
    EXPECT_LT(open, 1.0);
    // Every conversion advanced its generator by exactly one step, like the raw draw.
    for (const Xoshiro256PlusPlus* g : {&a, &b, &c, &d}) {
      EXPECT_TRUE(g->s0 == raw.s0 && g->s1 == raw.s1 && g->s2 == raw.s2 && g->s3 == raw.s3);
    }
    base.next_u64();
  }
}

}  // namespace
}  // namespace tessary
