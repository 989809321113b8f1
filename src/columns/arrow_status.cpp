#include "columns/arrow_status.h"

#include <cerrno>
#include <new>
#include <string>

namespace tessary {

void check_arrow(ArrowErrorCode code, const char* what, const ArrowError* error,
                 SourceLocation where) {
  if (code == NANOARROW_OK) [[likely]] {
    return;
  }
  if (code == ENOMEM) throw std::bad_alloc();
  std::string message = std::string(what) + " failed with error code " + std::to_string(code);
  if (error != nullptr && error->message[0] != '\0') message += std::string(": ") + error->message;
  panic(std::move(message), where);
}

}  // namespace tessary
