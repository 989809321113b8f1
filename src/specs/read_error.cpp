#include "specs/read_error.h"

#include <algorithm>

namespace tessary {

std::string ReadError::display() const {
  if (line == 0) return message;
  return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

ReadError placed_error(std::string_view text, std::size_t index, std::string message) {
  TextPosition at;
  advance(text, index, at);
  return ReadError{std::move(message), at.line, index - at.line_start};
}

void advance(std::string_view text, std::size_t index, TextPosition& at) {
  const std::string_view between = text.substr(at.index, index - at.index);
  const std::size_t last_feed = between.rfind('\n');
  if (last_feed != std::string_view::npos) {
    at.line += static_cast<std::size_t>(std::count(between.begin(), between.end(), '\n'));
    at.line_start = at.index + last_feed + 1;
  }
  at.index = index;
}

}  // namespace tessary
