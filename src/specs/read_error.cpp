#include "specs/read_error.h"

namespace tessary {

std::string ReadError::display() const {
  if (line == 0) return message;
  return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

}  // namespace tessary
