#include "sinks/fd_sink.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tessary {

int write_until_interrupted(int fd, std::string_view bytes, std::size_t& written) noexcept {
  written = 0;
  while (written < bytes.size()) {
    // Linux writes at most about 2 GiB in one call; ask for no more than 1 GiB.
    const std::size_t piece = std::min<std::size_t>(bytes.size() - written, std::size_t{1} << 30);
    const ssize_t count = ::write(fd, bytes.data() + written, piece);
    if (count < 0) return errno;
    if (count == 0) return EIO;  // nothing accepted and no error: give up rather than spin
    written += static_cast<std::size_t>(count);
    // A pipe's write that a signal interrupts after some bytes returns their count, not EINTR:
    // the caller must look at its signals before a next write blocks again.
    if (static_cast<std::size_t>(count) < piece) return EINTR;
  }
  return 0;
}

}  // namespace tessary
