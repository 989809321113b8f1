#include "digest/digest.h"

#include "digest/sha256.h"
#include "digest/xxh128.h"

namespace tessary {

std::string_view digest_name(DigestAlgorithm algorithm) {
  return algorithm == DigestAlgorithm::Xxh128 ? "xxh128" : "sha256";
}

std::optional<DigestAlgorithm> digest_named(std::string_view name) {
  for (DigestAlgorithm algorithm : {DigestAlgorithm::Sha256, DigestAlgorithm::Xxh128}) {
    if (name == digest_name(algorithm)) return algorithm;
  }
  return std::nullopt;
}

std::string to_hex(const DigestValue& value) {
  static constexpr char DIGITS[] = "0123456789abcdef";
  std::string text(2 * value.size, '0');
  for (std::size_t i = 0; i < value.size; ++i) {
    text[2 * i] = DIGITS[value.bytes[i] >> 4];
    text[2 * i + 1] = DIGITS[value.bytes[i] & 15];
  }
  return text;
}

std::unique_ptr<Digest> make_digest(DigestAlgorithm algorithm) {
  if (algorithm == DigestAlgorithm::Xxh128) return std::make_unique<Xxh128>();
  return std::make_unique<Sha256>();
}

}  // namespace tessary
