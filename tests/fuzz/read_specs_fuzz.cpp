// Fuzz harness: read_specs over arbitrary bytes. Whatever the input, reading must end with specs
// or with an error that has a position inside the text, without a crash, a leak or undefined
// behaviour, and an input of valid UTF-8 must give a message of valid UTF-8 (messages quote the
// strings of the document).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

#include "specs/read_specs.h"

namespace {

bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    std::size_t length = 1;
    std::uint8_t low = 0x80, high = 0xBF;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto byte = static_cast<std::uint8_t>(text[i + k]);
      if (byte < (k == 1 ? low : 0x80) || byte > (k == 1 ? high : 0xBF)) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto result = tessary::read_specs(text);
  const auto* error = std::get_if<tessary::ReadError>(&result);
  if (error == nullptr) return 0;
  if (error->line == 0 || error->column > size) std::abort();
  if (error->display().empty()) std::abort();
  if (is_valid_utf8(text) && !is_valid_utf8(error->message)) std::abort();
  return 0;
}
