// read_specs: the specs document, a JSON array of attribute spec objects, read into AttrSpecs.
#pragma once

#include <cstddef>
#include <string_view>
#include <variant>
#include <vector>

#include "records/attr_spec.h"
#include "specs/read_error.h"

namespace tessary {

// Reads the UTF-8 text of a specs document in one pass: the specs in document order, or the first
// error, always with a position. Checks form and types only (no ranges, no relations between
// members). Each element is an object with "name" (a string) and "type" (a kind's name or its
// index 0 to 3) and the fields of that kind; other members are read for syntax and ignored.
//
// Any byte string is safe input. Nothing throws except std::bad_alloc. Choice values that were
// strings are copied, so the result does not refer to text.
std::variant<std::vector<AttrSpec>, ReadError> read_specs(std::string_view text);

// The specs of a document and where each begins: starts[i] is the byte index of the "{" of
// specs[i] in the text.
struct SpecDocument {
  std::vector<AttrSpec> specs;
  std::vector<std::size_t> starts;
};

// read_specs, also recording where each spec begins.
std::variant<SpecDocument, ReadError> read_spec_document(std::string_view text);

}  // namespace tessary
