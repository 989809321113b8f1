#include "records/panic.h"

#include <pthread.h>

#include <cstdio>

namespace tessary {

void report_panic(const std::string& message, const SourceLocation& where) {
  // Worker threads are unnamed; a named thread (as set by pthread_setname_np) is shown by name.
  char name[32] = "<unnamed>";
  if (pthread_getname_np(pthread_self(), name, sizeof name) != 0 || name[0] == '\0') {
    std::snprintf(name, sizeof name, "<unnamed>");
  }
  // One fprintf call so that reports from several threads do not interleave mid-line.
  std::fprintf(stderr, "\nthread '%s' panicked at %s:%u:%u:\n%s\n", name, where.file_name(),
               static_cast<unsigned>(where.line()), static_cast<unsigned>(where.column()),
               message.c_str());
}

namespace {
thread_local bool quiet_panics = false;
}  // namespace

QuietPanics::QuietPanics() noexcept : was_quiet_(quiet_panics) {
  quiet_panics = true;
}

QuietPanics::~QuietPanics() {
  quiet_panics = was_quiet_;
}

void panic(std::string message, SourceLocation where) {
  if (!quiet_panics) report_panic(message, where);
  throw Panic(std::move(message));
}

}  // namespace tessary
