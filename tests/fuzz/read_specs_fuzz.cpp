// Fuzz harness: read_specs over arbitrary bytes. Whatever the input, reading must end without a
// crash, a leak or undefined behaviour, with specs or with an error whose position lies inside the
// text. When the input is valid UTF-8 (as every document from Python is), so must be every text
// that comes out: names, string values and keys (escapes resolved) and the error message (which
// quotes strings of the document).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>
#include <vector>

#include "specs/read_specs.h"
#include "specs/utf8_helpers.h"

namespace {

using tessary::testing::is_valid_utf8;

bool texts_are_utf8(const tessary::JsonValue& value) {
  if (const auto* text = std::get_if<std::string>(&value.data)) return is_valid_utf8(*text);
  if (const auto* items = std::get_if<tessary::JsonArray>(&value.data)) {
    for (const tessary::JsonValue& item : *items) {
      if (!texts_are_utf8(item)) return false;
    }
  }
  if (const auto* members = std::get_if<tessary::JsonObject>(&value.data)) {
    for (const tessary::JsonMember& member : *members) {
      if (!is_valid_utf8(member.key) || !texts_are_utf8(member.value)) return false;
    }
  }
  return true;
}

bool texts_are_utf8(const std::vector<tessary::AttrSpec>& specs) {
  for (const tessary::AttrSpec& spec : specs) {
    if (!is_valid_utf8(spec.name)) return false;
    if (const auto* choice = std::get_if<tessary::Choice>(&spec.kind)) {
      for (const tessary::JsonValue& value : choice->values) {
        if (!texts_are_utf8(value)) return false;
      }
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const bool utf8 = is_valid_utf8(text);
  const auto result = tessary::read_specs(text);
  if (const auto* error = std::get_if<tessary::ReadError>(&result)) {
    if (error->line == 0 || error->column > size) std::abort();
    if (utf8 && !is_valid_utf8(error->message)) std::abort();
  } else if (utf8 && !texts_are_utf8(std::get<std::vector<tessary::AttrSpec>>(result))) {
    std::abort();
  }
  return 0;
}
