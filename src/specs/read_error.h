// ReadError: why a specs document could not be read, and where.
#pragma once

#include <cstddef>
#include <string>

namespace tessary {

struct ReadError {
  std::string message;
  std::size_t line = 0;    // 1-based; 0 means the error has no position
  std::size_t column = 0;  // bytes from the start of the line to the error's index

  // "{message} at line {line} column {column}" when the error has a position, else the message.
  std::string display() const;
};

}  // namespace tessary
