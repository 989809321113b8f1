// SHA-256 of a byte stream, computed by OpenSSL's libcrypto (EVP interface).
//
// A Sha256 takes the bytes piece by piece (update) and gives the digest once (finish), so a text
// that is written in blocks can be digested as it goes without ever being whole in memory.
// Allocation failure throws std::bad_alloc; a failure of libcrypto itself, which SHA-256 does not
// have on a working installation, panics. A Sha256 is used by one thread at a time; separate
// objects may run on separate threads.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

struct evp_md_ctx_st;  // libcrypto's EVP_MD_CTX, kept out of this header

namespace tessary {

struct Sha256Digest {
  std::array<unsigned char, 32> bytes{};

  // The 64 lowercase hexadecimal digits, as sha256sum and Python's hexdigest() print them.
  std::string hex() const;
};

class Sha256 {
 public:
  Sha256();  // ready for the first update
  Sha256(Sha256&&) noexcept = default;
  Sha256& operator=(Sha256&&) noexcept = default;
  ~Sha256();

  // Adds the bytes to the digested stream. Requires: finish() has not been called.
  void update(std::string_view bytes);
  // The digest of every byte given so far. Afterwards the object only accepts destruction.
  Sha256Digest finish();

 private:
  struct FreeContext {
    void operator()(evp_md_ctx_st* context) const noexcept;
  };
  std::unique_ptr<evp_md_ctx_st, FreeContext> context_;
};

// The digest of one whole text.
Sha256Digest sha256_of(std::string_view bytes);

}  // namespace tessary
