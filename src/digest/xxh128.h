// XXH3-128 of a byte stream fed in pieces, by libxxhash (seed 0, the default secret): the value
// that `xxh128sum` prints. Not cryptographic: it detects accidental corruption, not tampering.
#pragma once

#include "digest/digest.h"

struct XXH3_state_s;

namespace tessary {

// Construction throws std::bad_alloc when libxxhash cannot allocate its state.
class Xxh128 final : public Digest {
 public:
  Xxh128();
  ~Xxh128() override;
  Xxh128(const Xxh128&) = delete;
  Xxh128& operator=(const Xxh128&) = delete;

  void update(std::string_view bytes) override;
  DigestValue finish() override;  // 16 bytes, the canonical (big-endian) form

 private:
  XXH3_state_s* state_;
};

}  // namespace tessary
