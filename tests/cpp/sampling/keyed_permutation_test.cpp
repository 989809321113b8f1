#include "sampling/keyed_permutation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace tessary {
namespace {

constexpr std::uint64_t kAll = std::numeric_limits<std::uint64_t>::max();

// The first images of a few domains under one key. These pin the permutation (recorded from this
// implementation).
TEST(KeyedPermutation, ImagesArePinned) {
  struct Case {
    std::uint64_t last;
    std::vector<std::uint64_t> images;
  };
  const Case cases[] = {
      {9, {0x4, 0x5, 0x7, 0x6, 0x9}},
      {1000, {0x145, 0x151, 0x29, 0x10C, 0xCD}},
      {kAll, {0xF25A1853F2D4BFAC, 0x1A2893C8F79E0EE9, 0x512673873C9037B4, 0x21D4F5791CA2B6C9,
              0x8247FA174C95DCC3}},
  };
  for (const Case& c : cases) {
    const KeyedPermutation permutation = make_keyed_permutation(c.last, 2024);
    for (std::uint64_t i = 0; i < c.images.size(); ++i) {
      EXPECT_EQ(permute(permutation, i), c.images[i]) << c.last << ", " << i;
    }
  }
}

// Every domain of 1 to 300 values (odd and even widths, powers of two and one past them): each
// value appears exactly once, and another key gives another order.
TEST(KeyedPermutation, SmallDomainsArePermutedExactly) {
  for (std::uint64_t size = 1; size <= 300; ++size) {
    for (std::uint64_t key : {std::uint64_t{0}, std::uint64_t{0x5EED}}) {
      const KeyedPermutation permutation = make_keyed_permutation(size - 1, key);
      std::vector<int> seen(size);
      for (std::uint64_t i = 0; i < size; ++i) {
        const std::uint64_t image = permute(permutation, i);
        ASSERT_LT(image, size) << size << ", " << key;
        ++seen[image];
      }
      ASSERT_TRUE(std::all_of(seen.begin(), seen.end(), [](int n) { return n == 1; }))
          << size << ", " << key;
    }
    if (size >= 8) {
      const KeyedPermutation a = make_keyed_permutation(size - 1, 1);
      const KeyedPermutation b = make_keyed_permutation(size - 1, 2);
      int same = 0;
      for (std::uint64_t i = 0; i < size; ++i) same += permute(a, i) == permute(b, i);
      EXPECT_LT(same, static_cast<int>(size)) << size;
    }
  }
}

// Domains of 2^64 and 2^63 + 1 values (the widest, and the one that walks most): images in range
// and distinct over indices at both ends and spread between.
TEST(KeyedPermutation, WideDomainsStayInRange) {
  for (std::uint64_t last : {kAll, std::uint64_t{1} << 63}) {
    const KeyedPermutation permutation = make_keyed_permutation(last, 99);
    std::vector<std::uint64_t> images;
    for (std::uint64_t i = 0; i < 3000; ++i) {
      for (std::uint64_t index : {i, last - i, i * (last / 3000)}) {
        const std::uint64_t image = permute(permutation, index);
        ASSERT_LE(image, last);
        images.push_back(image);
      }
    }
    // 9000 indices, of which i = 0 appears twice (as i and as i * step).
    std::sort(images.begin(), images.end());
    EXPECT_EQ(std::unique(images.begin(), images.end()) - images.begin(), 8999) << last;
  }
}

// The tables give the images the rounds compute: for every index of domains up to the widest
// tabulated (halves of 12 bits), odd and even widths and powers of two and one past them among
// them; wider domains have no tables.
TEST(KeyedPermutation, TabulatedRoundsGiveTheSameImages) {
  for (std::uint64_t last : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{9},
                             std::uint64_t{1000}, std::uint64_t{99999}, std::uint64_t{1} << 20,
                             (std::uint64_t{1} << 24) - 1}) {
    const KeyedPermutation permutation = make_keyed_permutation(last, 0xC0FFEE);
    const std::optional<TabulatedRounds> rounds = tabulate_rounds(permutation);
    ASSERT_TRUE(rounds.has_value()) << last;
    for (std::uint64_t i = 0; i <= last; i += 1 + last / 100000) {
      ASSERT_EQ(permute(permutation, rounds->data(), i), permute(permutation, i)) << last << ", " << i;
    }
  }
  EXPECT_FALSE(tabulate_rounds(make_keyed_permutation(std::uint64_t{1} << 24, 1)).has_value());
  EXPECT_FALSE(tabulate_rounds(make_keyed_permutation(kAll, 1)).has_value());
}

// So do the images of whole domains, up to the widest tabulated (2^18 values).
TEST(KeyedPermutation, TabulatedImagesAreTheImages) {
  for (std::uint64_t last : {std::uint64_t{0}, std::uint64_t{999}, std::uint64_t{99999},
                             (std::uint64_t{1} << 18) - 1}) {
    const KeyedPermutation permutation = make_keyed_permutation(last, 77);
    const std::optional<std::vector<std::uint32_t>> images = tabulate_images(permutation);
    ASSERT_TRUE(images.has_value()) << last;
    ASSERT_EQ(images->size(), last + 1);
    for (std::uint64_t i = 0; i <= last; ++i) {
      ASSERT_EQ((*images)[i], permute(permutation, i)) << last << ", " << i;
    }
  }
  EXPECT_FALSE(tabulate_images(make_keyed_permutation(std::uint64_t{1} << 18, 1)).has_value());
}

}  // namespace
}  // namespace tessary
