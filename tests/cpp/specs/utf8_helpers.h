// Whole-text UTF-8 validation, for tests and the fuzz harness that check what the reader returns.
#pragma once

#include <cstddef>
#include <string_view>

#include "specs/utf8.h"

namespace tessary::testing {

// True when the text is a run of well-formed UTF-8 sequences (the empty text included).
inline bool is_valid_utf8(std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = utf8_sequence_length(text);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

}  // namespace tessary::testing
