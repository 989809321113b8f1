// UTF-8 well-formedness, for texts that came from a document that is normally, but not surely,
// valid UTF-8.
#pragma once

#include <cstddef>
#include <string_view>

namespace tessary {

// The length (1 to 4) of the well-formed UTF-8 sequence that starts bytes, or 0 when none does
// (an empty text, a stray continuation byte, an overlong form, a surrogate, a code point above
// U+10FFFF or a truncated sequence).
std::size_t utf8_sequence_length(std::string_view bytes);

}  // namespace tessary
