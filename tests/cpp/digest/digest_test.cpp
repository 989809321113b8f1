#include "digest/digest.h"

#include <gtest/gtest.h>

#include <string>

namespace tessary {
namespace {

std::string hex_of(DigestAlgorithm algorithm, std::string_view text) {
  std::unique_ptr<Digest> digest = make_digest(algorithm);
  digest->update(text);
  return to_hex(digest->finish());
}

// SHA-256: the published test vectors (FIPS 180-2 and NIST's examples). XXH3-128: the values
// `xxh128sum` prints, its canonical big-endian form, so a reversed byte order would show.
TEST(Digest, KnownDigests) {
  const struct {
    DigestAlgorithm algorithm;
    std::string text;
    const char* hex;
  } cases[] = {
      {DigestAlgorithm::Sha256, "",
       "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {DigestAlgorithm::Sha256, "abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {DigestAlgorithm::Sha256, std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {DigestAlgorithm::Xxh128, "", "99aa06d3014798d86001c324468d497f"},
      {DigestAlgorithm::Xxh128, "abc", "06b05ab6733a618578af5f94892f3950"},
      {DigestAlgorithm::Xxh128, std::string(1000000, 'a'), "a545df8e384a9579b1fd6fae5285c4eb"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hex_of(c.algorithm, c.text), c.hex) << digest_name(c.algorithm) << " of "
                                                  << c.text.size() << " bytes";
  }
}

TEST(Digest, PiecesDigestLikeTheWhole) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += static_cast<char>(i * 7);  // every byte value, NUL too
  for (DigestAlgorithm algorithm : {DigestAlgorithm::Sha256, DigestAlgorithm::Xxh128}) {
    const std::string whole = hex_of(algorithm, text);
    // Cuts around SHA-256's 64-byte blocks and XXH3's 240-byte short path and 256-byte stripes.
    for (std::size_t cut : {0u, 1u, 63u, 64u, 65u, 240u, 241u, 256u, 999u, 1000u}) {
      std::unique_ptr<Digest> digest = make_digest(algorithm);
      digest->update(std::string_view(text).substr(0, cut));
      digest->update(std::string_view(text).substr(cut));
      EXPECT_EQ(to_hex(digest->finish()), whole) << digest_name(algorithm) << " cut at " << cut;
    }
  }
}

TEST(Digest, NamesRoundTripAndOthersAreRefused) {
  for (DigestAlgorithm algorithm : {DigestAlgorithm::Sha256, DigestAlgorithm::Xxh128}) {
    EXPECT_EQ(digest_named(digest_name(algorithm)), algorithm);
  }
  for (std::string_view other : {"", "SHA256", "sha-256", "xxh3", "xxh128 "}) {
    EXPECT_FALSE(digest_named(other)) << other;
  }
}

}  // namespace
}  // namespace tessary
