// Panics: unrecoverable failures of the current call.
//
// A panic carries a message. It is thrown as `Panic` from wherever it happens (a sampler, the
// worker pool, the pipeline), travels across worker threads as a value, and is caught only where
// a call's failure is handed on: the pool's piece runner and the ordered window, which hand it to
// the waiting caller; the Arrow stream export, which turns it into the stream's error; and the
// Python entry points (binding/run_entry.h), which raise it as PanicException. Nothing else in
// the core throws, apart from std::bad_alloc, and all code holds its resources in RAII owners, so
// unwinding releases them.
#pragma once

#include <exception>
#include <string>
#include <version>
#if defined(__cpp_lib_source_location)
#include <source_location>
#endif

namespace tessary {

// Where a panic was raised: SourceLocation where the standard library has it, else a
// stand-in with the same interface (clang 14 with libstdc++ 12, the fuzz build, lacks it).
#if defined(__cpp_lib_source_location)
using SourceLocation = std::source_location;
#else
struct SourceLocation {
  static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                          const char* function = __builtin_FUNCTION(),
                                          unsigned line = __builtin_LINE(),
                                          unsigned column = __builtin_COLUMN()) {
    return SourceLocation{file, function, line, column};
  }
  constexpr const char* file_name() const { return file_; }
  constexpr const char* function_name() const { return function_; }
  constexpr unsigned line() const { return line_; }
  constexpr unsigned column() const { return column_; }

  const char* file_ = "";
  const char* function_ = "";
  unsigned line_ = 0;
  unsigned column_ = 0;
};
#endif

class Panic : public std::exception {
 public:
  explicit Panic(std::string message) : message_(std::move(message)) {}

  const std::string& message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Writes the failure report (thread, source location, message) to standard error, then throws
// Panic(message). The report is written once, at the moment of the failure.
[[noreturn]] void panic(std::string message, SourceLocation where = SourceLocation::current());

// Writes just the failure report; used where a panic is raised without unwinding from the place
// it was detected.
void report_panic(const std::string& message, const SourceLocation& where);

// While an object of this class lives, panics raised on its thread are thrown without a report:
// callers that hand every failure over as a value (the streaming functions) do not write one.
class QuietPanics {
 public:
  QuietPanics() noexcept;
  ~QuietPanics();
  QuietPanics(const QuietPanics&) = delete;
  QuietPanics& operator=(const QuietPanics&) = delete;

 private:
  bool was_quiet_;
};

}  // namespace tessary
