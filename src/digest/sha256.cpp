#include "digest/sha256.h"

#include <openssl/evp.h>

#include <new>

#include "records/panic.h"

namespace tessary {

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
  if (context_ == nullptr) throw std::bad_alloc();
  if (EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(context_);
    panic("libcrypto could not start a SHA-256 digest");
  }
}

Sha256::~Sha256() {
  EVP_MD_CTX_free(context_);
}

void Sha256::update(std::string_view bytes) {
  if (EVP_DigestUpdate(context_, bytes.data(), bytes.size()) != 1) {
    panic("libcrypto could not update a SHA-256 digest");
  }
}

Sha256Digest Sha256::finish() {
  Sha256Digest digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context_, digest.data(), &length) != 1 || length != digest.size()) {
    panic("libcrypto could not finish a SHA-256 digest");
  }
  return digest;
}

std::string to_hex(const Sha256Digest& digest) {
  static constexpr char DIGITS[] = "0123456789abcdef";
  std::string text(2 * digest.size(), '0');
  for (std::size_t i = 0; i < digest.size(); ++i) {
    text[2 * i] = DIGITS[digest[i] >> 4];
    text[2 * i + 1] = DIGITS[digest[i] & 15];
  }
  return text;
}

}  // namespace tessary
