#include "specs/read_error.h"

namespace tessary {

std::string ReadError::display() const {
  if (line == 0) return message;
  std::string text = message;  // appended step by step: GCC 12 misjudges chained + (-Wrestrict)
  text += " at line ";
  text += std::to_string(line);
  text += " column ";
  text += std::to_string(column);
  return text;
}

}  // namespace tessary
