#include "digest/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace tessary {
namespace {

std::string sha256_hex(std::string_view text) {
  Sha256 sha;
  sha.update(text);
  return to_hex(sha.finish());
}

// The published test vectors of SHA-256 (FIPS 180-2 and NIST's examples).
TEST(Sha256, KnownDigests) {
  EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256_hex("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(sha256_hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, PiecesDigestLikeTheWhole) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += static_cast<char>(i * 7);  // every byte value, NUL too
  const std::string whole = sha256_hex(text);
  for (std::size_t cut : {0u, 1u, 63u, 64u, 65u, 999u, 1000u}) {
    Sha256 sha;
    sha.update(std::string_view(text).substr(0, cut));
    sha.update(std::string_view(text).substr(cut));
    EXPECT_EQ(to_hex(sha.finish()), whole) << cut;
  }
}

}  // namespace
}  // namespace tessary
