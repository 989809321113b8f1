// Panics: unrecoverable failures of the current call.
//
// A panic carries a message. It is thrown as `Panic` from wherever it happens (a sampler, the
// worker pool, the pipeline), travels across worker threads as a value, and is caught only at the
// two places that own a call: the pool's piece runner, which hands it to the waiting caller, and the
// Python entry point, which raises it as PanicException. Nothing else in the core throws, apart from
// std::bad_alloc, and all code holds its resources in RAII owners, so unwinding releases them.
#pragma once

#include <exception>
#include <source_location>
#include <string>

namespace tessary {

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
[[noreturn]] void panic(std::string message,
                        std::source_location where = std::source_location::current());

// Writes just the failure report; used where a panic is raised without unwinding from the place
// it was detected.
void report_panic(const std::string& message, const std::source_location& where);

}  // namespace tessary
