// Writing to a file descriptor: regular files, pipes, devices, sockets.
#pragma once

#include <cstddef>
#include <string_view>

namespace tessary {

// Writes `bytes` to `fd`. Returns 0 once everything is written, or the errno of the write that
// failed (ENOSPC on a full disk, EFBIG past the file-size limit, EPIPE on a closed pipe, ...). A
// write interrupted by a signal returns EINTR, and so does a short write (a pipe's write that a
// signal interrupts after some bytes returns their count): the caller then looks at its signals (a
// blocked pipe must not keep Ctrl-C waiting) before it writes the rest. `written` is set to the
// count of bytes written. Blocking.
int write_until_interrupted(int fd, std::string_view bytes, std::size_t& written) noexcept;

}  // namespace tessary
