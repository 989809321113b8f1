#include "base/assert.h"

#include <cstdio>
#include <cstdlib>

namespace tessary {

void assertion_failed(const char* condition, SourceLocation where) {
  std::fprintf(stderr, "assertion failed: %s at %s:%u\n", condition, where.file_name(),
               static_cast<unsigned>(where.line()));
  std::abort();
}

}  // namespace tessary
