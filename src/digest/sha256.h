// SHA-256 of a byte stream fed in pieces, by OpenSSL's libcrypto (which uses the processor's
// SHA instructions where it has them).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace tessary {

using Sha256Digest = std::array<std::uint8_t, 32>;

// Not thread-safe; one per stream. Construction throws std::bad_alloc when libcrypto cannot make
// its context; a failure inside libcrypto afterwards is a Panic.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void update(std::string_view bytes);
  // The digest of everything fed so far. The object is spent afterwards.
  Sha256Digest finish();

 private:
  evp_md_ctx_st* context_;
};

// Lower-case hexadecimal, 64 characters.
std::string to_hex(const Sha256Digest& digest);

}  // namespace tessary
