#include "digest/sha256.h"

#include <openssl/evp.h>

#include <new>

#include "records/panic.h"

namespace tessary {

std::string Sha256Digest::hex() const {
  static constexpr char DIGITS[] = "0123456789abcdef";
  std::string text(2 * bytes.size(), '0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    text[2 * i] = DIGITS[bytes[i] >> 4];
    text[2 * i + 1] = DIGITS[bytes[i] & 0xF];
  }
  return text;
}

void Sha256::FreeContext::operator()(evp_md_ctx_st* context) const noexcept {
  EVP_MD_CTX_free(context);
}

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
  if (!context_) throw std::bad_alloc();
  if (EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) {
    panic("SHA-256 digest could not be started");
  }
}

Sha256::~Sha256() = default;

void Sha256::update(std::string_view bytes) {
  if (EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()) != 1) {
    panic("SHA-256 digest could not take more bytes");
  }
}

Sha256Digest Sha256::finish() {
  Sha256Digest digest;
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context_.get(), digest.bytes.data(), &length) != 1 ||
      length != digest.bytes.size()) {
    panic("SHA-256 digest could not be finished");
  }
  return digest;
}

Sha256Digest sha256_of(std::string_view bytes) {
  Sha256 sha;
  sha.update(bytes);
  return sha.finish();
}

}  // namespace tessary
