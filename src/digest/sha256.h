// SHA-256 of a byte stream fed in pieces, by OpenSSL's libcrypto (which uses the processor's
// SHA instructions where it has them).
#pragma once

#include "digest/digest.h"

struct evp_md_ctx_st;

namespace tessary {

// Construction throws std::bad_alloc when libcrypto cannot make its context.
class Sha256 final : public Digest {
 public:
  Sha256();
  ~Sha256() override;
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void update(std::string_view bytes) override;
  DigestValue finish() override;  // 32 bytes

 private:
  evp_md_ctx_st* context_;
};

}  // namespace tessary
