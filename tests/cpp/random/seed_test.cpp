#include "random/seed.h"

#include <gtest/gtest.h>

#include <bit>

#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

#include "base/panic.h"

namespace tessary {
namespace {

// Entropy sources with a fixed outcome, standing in for the operating system's.
unsigned char g_block[32];
int fill_from_block(void* buffer, std::size_t length) {
  std::memcpy(buffer, g_block, length);
  return 0;
}
int fail_with_eio(void*, std::size_t) {
  errno = EIO;
  return -1;
}
int fail_without_errno(void*, std::size_t) {
  errno = 0;
  return -1;
}

std::string panic_message(EntropyFill fill) {
  try {
    make_seed(std::nullopt, fill);
  } catch (const Panic& p) {
    return p.message();
  }
  return "<no panic>";
}

TEST(MakeSeed, GivenSeedComesBackUnchanged) {
  for (std::uint64_t seed : {std::uint64_t{0}, std::uint64_t{5}, std::uint64_t{1} << 63,
                             std::numeric_limits<std::uint64_t>::max()}) {
    EXPECT_EQ(make_seed(seed, fail_with_eio), seed);  // the entropy source is not asked
  }
}

TEST(MakeSeed, EntropyBlocksGiveTheFirstOutputOfTheirState) {
  struct Case {
    const char* what;
    std::uint64_t s0, s1, s2, s3;
    std::uint64_t expected;
  };
  const Case cases[] = {
      {"all zero: the state of seed_from_u64(0)", 0, 0, 0, 0, 0x53175D61490B23DFu},
      {"s0 and s3 zero but not all zero", 0, 1, 0, 0, 0},
      {"s1 and s2 do not matter", 1, 0xFFFF, 0xABCD, 2, std::rotl(std::uint64_t{3}, 23) + 1},
      {"wrapping sum", ~std::uint64_t{0}, 0, 0, 1, ~std::uint64_t{0}},
  };
  for (const Case& c : cases) {
    const std::uint64_t words[4] = {c.s0, c.s1, c.s2, c.s3};
    for (int w = 0; w < 4; ++w) {
      for (int b = 0; b < 8; ++b)
        g_block[w * 8 + b] = static_cast<unsigned char>(words[w] >> (8 * b));
    }
    EXPECT_EQ(make_seed(std::nullopt, fill_from_block), c.expected) << c.what;
  }
}

TEST(MakeSeed, EntropyFailuresPanicWithTheirCause) {
  EXPECT_EQ(panic_message(fail_with_eio),
            std::string("from_os_rng failed: ") + std::strerror(EIO) + " (os error 5)");
  EXPECT_EQ(panic_message(fail_without_errno),
            "from_os_rng failed: errno: did not return a positive value");
}

TEST(MakeSeed, SystemEntropyGivesFreshValues) {
  const std::uint64_t a = make_seed(std::nullopt), b = make_seed(std::nullopt);
  const std::uint64_t c = make_seed(std::nullopt);
  EXPECT_FALSE(a == b && b == c);  // three equal 64-bit draws would mean a broken source
}

}  // namespace
}  // namespace tessary
