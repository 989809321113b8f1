// ReadError: why a specs document could not be read, and where.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tessary {

struct [[nodiscard]] ReadError {
  std::string message;
  std::size_t line = 0;    // 1-based; 0 means the error has no position
  std::size_t column = 0;  // bytes from the start of the line to the error's index

  // "{message} at line {line} column {column}" when the error has a position, else the message.
  std::string display() const;
};

// A place in a text, as positions are counted: the 1-based line, and the start of that line.
struct TextPosition {
  std::size_t index = 0;  // bytes before the place
  std::size_t line = 1;
  std::size_t line_start = 0;
};

// The error `message` placed at byte index `index` of `text` (as JsonReader places its errors:
// the column counts the bytes of the line before the index). Requires index <= text.size().
ReadError placed_error(std::string_view text, std::size_t index, std::string message);

// Moves `at` forward to byte index `index` (at least at.index, at most text.size()) of text,
// reading only the bytes in between, so that walking a text's places in order reads it once.
void advance(std::string_view text, std::size_t index, TextPosition& at);

}  // namespace tessary
