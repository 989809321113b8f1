#include "digest/xxh128.h"

#include <xxhash.h>

#include <cstring>
#include <new>

#include "base/panic.h"

namespace tessary {

static_assert(sizeof(XXH128_canonical_t) == 16);

Xxh128::Xxh128() : state_(XXH3_createState()) {
  if (state_ == nullptr) throw std::bad_alloc();
  if (XXH3_128bits_reset(state_) != XXH_OK) {
    XXH3_freeState(state_);
    panic("libxxhash could not start an XXH3-128 digest");
  }
}

Xxh128::~Xxh128() {
  XXH3_freeState(state_);
}

void Xxh128::update(std::string_view bytes) {
  if (XXH3_128bits_update(state_, bytes.data(), bytes.size()) != XXH_OK) {
    panic("libxxhash could not update an XXH3-128 digest");
  }
}

DigestValue Xxh128::finish() {
  XXH128_canonical_t canonical;
  XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(state_));
  DigestValue value;
  std::memcpy(value.bytes.data(), canonical.digest, sizeof canonical.digest);
  value.size = sizeof canonical.digest;
  return value;
}

}  // namespace tessary
