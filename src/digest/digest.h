// Digests of byte streams fed in pieces: one small interface, chosen once per output, with two
// implementations. SHA-256 is the default, the one a user compares with other tools; XXH3-128 is
// for integrity against accidental corruption, at several times SHA-256's speed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tessary {

enum class DigestAlgorithm : std::uint8_t { Sha256, Xxh128 };

// The algorithm's name in the API and in data set manifests: "sha256" or "xxh128".
std::string_view digest_name(DigestAlgorithm algorithm);

// The algorithm of that name, or nullopt for any other text.
std::optional<DigestAlgorithm> digest_named(std::string_view name);

// A finished digest: its first `size` bytes (32 for SHA-256, 16 for XXH3-128), in the order
// the algorithm's usual tools print them.
struct DigestValue {
  std::array<std::uint8_t, 32> bytes{};
  std::uint8_t size = 0;
};

// Lower-case hexadecimal, two characters a byte.
std::string to_hex(const DigestValue& value);

// Not thread-safe; one per stream. A failure inside the library after construction is a Panic.
class Digest {
 public:
  virtual ~Digest() = default;
  virtual void update(std::string_view bytes) = 0;
  // The digest of everything fed so far. The object is spent afterwards.
  virtual DigestValue finish() = 0;
};

// A new digest of that algorithm. Throws std::bad_alloc when its state cannot be allocated.
std::unique_ptr<Digest> make_digest(DigestAlgorithm algorithm);

}  // namespace tessary
