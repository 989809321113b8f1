#include "random/seed.h"

#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <string>

#include "random/xoshiro.h"
#include "base/panic.h"

namespace tessary {
namespace {

// strerror_r comes in two flavours: the GNU one returns the text, the POSIX one fills the buffer.
[[maybe_unused]] const char* error_text(char* result, const char*) {
  return result;
}
[[maybe_unused]] const char* error_text(int, const char* buffer) {
  return buffer;
}

std::string describe_os_error(int number) {
  char buffer[256] = "";
  const char* text = error_text(strerror_r(number, buffer, sizeof buffer), buffer);
  return std::string(text) + " (os error " + std::to_string(number) + ")";
}

std::uint64_t read_le64(const unsigned char* bytes) {
  std::uint64_t word = 0;
  for (int b = 7; b >= 0; --b) word = (word << 8) | bytes[b];
  return word;
}

int system_entropy(void* buffer, std::size_t length) {
  return getentropy(buffer, length);
}

}  // namespace

std::uint64_t make_seed(std::optional<std::uint64_t> seed, EntropyFill fill) {
  if (seed) return *seed;
  if (fill == nullptr) fill = system_entropy;

  unsigned char block[32] = {};
  errno = 0;
  if (fill(block, sizeof block) != 0) {
    const int number = errno;
    panic("from_os_rng failed: " + (number > 0
                                        ? describe_os_error(number)
                                        : std::string("errno: did not return a positive value")));
  }
  Xoshiro256PlusPlus state{read_le64(block), read_le64(block + 8), read_le64(block + 16),
                           read_le64(block + 24)};
  if ((state.s0 | state.s1 | state.s2 | state.s3) == 0) {
    state = seed_from_u64(0);
  }
  return state.next_u64();
}

}  // namespace tessary
