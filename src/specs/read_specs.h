// read_specs: the specs document, a JSON array of attribute spec objects, read into AttrSpecs.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "records/attr_spec.h"
#include "specs/read_error.h"
#include "specs/take_field.h"

namespace tessary {

// The kinds that a reader accepts: `kinds` holds their indexes in AttrKind, in the order in which
// the "unknown variant" message lists them; "type" may also name kinds[i] by the number i, for
// i < numbered.
struct SpecLanguage {
  std::span<const std::size_t> kinds;
  std::size_t numbered = 0;
  // Whether it reads the members that only the package honours (`null_rate`, and the fields of a
  // kind past its original ones, such as `decimals`).
  bool extended = false;
};

// The package's language, which grows with every kind: all of AttrKind, the original four also
// by their numbers 0 to 3.
extern const SpecLanguage PACKAGE_LANGUAGE;
// The original language, frozen: uniform_int, uniform_float, normal and choice, by name or by
// number 0 to 3. What tessary._core reads, whatever kinds the package adds.
extern const SpecLanguage ORIGINAL_LANGUAGE;

// Reads the UTF-8 text of a specs document of the package's language in one pass: the specs in
// document order, each with its name key (sampling/entity_draws.h), or the first error, always
// with a position. Each element is an object with "name" (a string) and "type" (a kind's name or
// number, see SpecLanguage), the fields of that kind and `null_rate`; other members are read for
// syntax and ignored. The original kinds' members are checked for form and type only (their
// parameters fail when sampled, as they always did); a kind's other members are checked when
// read, with a message that names the attribute and the member.
//
// Any byte string is safe input. Nothing throws except std::bad_alloc. Choice values that were
// strings are copied, so the result does not refer to text.
[[nodiscard]] std::variant<std::vector<AttrSpec>, ReadError> read_specs(std::string_view text);

// read_specs for a document of the original language (ORIGINAL_LANGUAGE), with the same machinery
// and messages; only the kinds accepted differ.
[[nodiscard]] std::variant<std::vector<AttrSpec>, ReadError> read_original_specs(
    std::string_view text);

// Reads a spec without a name (a switch's `then` or `default`) from its object, in the package's
// language, with the specs before the switch in scope; `null_rate` is read, `hidden` is not. A
// problem has no position (the reader places it at the switch's end).
[[nodiscard]] Problem read_case_spec(const JsonValue& object, SpecScope& scope, AttrSpec& out);

// A member of a spec object that the original language does not read: one only the package's
// language reads (package_only), or one nothing reads.
struct MemberNote {
  std::string key;
  bool package_only = false;
};

// The specs of a document and where each begins: starts[i] is the byte index of the "{" of
// specs[i] in the text.
struct SpecDocument {
  std::vector<AttrSpec> specs;
  std::vector<std::size_t> starts;
  std::vector<std::vector<MemberNote>> notes;  // notes[i] for specs[i], in document order
};

// read_specs, also recording where each spec begins.
[[nodiscard]] std::variant<SpecDocument, ReadError> read_spec_document(std::string_view text);

// read_spec_document for the attribute list of a data set's table, which begins at byte `start`
// of the data set document `text` (its "[", whose syntax has been read), with the tables of
// `dataset` in scope for its references. Positions are those of the whole document.
[[nodiscard]] std::variant<SpecDocument, ReadError> read_table_specs(std::string_view text,
                                                                     std::size_t start,
                                                                     const DatasetScope& dataset);

}  // namespace tessary
