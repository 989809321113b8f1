// The seed operation behind make_seed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tessary {

// Fills `length` bytes from an entropy source. Returns 0 on success; on failure returns -1 and
// leaves the cause in errno, as getentropy does. A parameter so tests can make it fail.
using EntropyFill = int (*)(void* buffer, std::size_t length);

// Returns `seed` unchanged when it is given. Otherwise draws 32 bytes of entropy as four
// little-endian words s0..s3 (an all-zero block is replaced by the state of seed_from_u64(0)) and
// returns the first Xoshiro256++ output of that state, rotl(s0 + s3, 23) + s0.
// Panics with "from_os_rng failed: ..." when the entropy source fails. Thread-safe.
std::uint64_t make_seed(std::optional<std::uint64_t> seed, EntropyFill fill = nullptr);

}  // namespace tessary
