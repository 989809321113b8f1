#include "digest/sha256.h"

#include <openssl/evp.h>

#include <new>

#include "base/panic.h"

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

DigestValue Sha256::finish() {
  DigestValue value;
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context_, value.bytes.data(), &length) != 1 || length != 32) {
    panic("libcrypto could not finish a SHA-256 digest");
  }
  value.size = 32;
  return value;
}

}  // namespace tessary
