#include "specs/read_specs.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <string>
#include <utility>
#include <vector>

#include "specs/buffered_value.h"
#include "specs/json_reader.h"
#include "specs/take_field.h"
#include "specs/unexpected_text.h"
#include "output/number_text.h"
#include "sampling/entity_draws.h"

namespace tessary {

namespace {

// How the package's reader used a member of a spec object.
enum class MemberUse : std::uint8_t { Unread, Original, PackageOnly };

// ---- the "type" pass and the field pass

// "expected one of `a`, `b`, `c`": the kinds a language accepts.
std::string expected_kinds(const SpecLanguage& language) {
  std::string text = "expected one of ";
  for (std::size_t i = 0; i < language.kinds.size(); ++i) {
    if (i > 0) text += ", ";
    text += "`";
    text += KIND_NAMES[language.kinds[i]];
    text += "`";
  }
  return text;
}

// The kind that "type" names, as its index in AttrKind, if the language accepts it.
[[nodiscard]] Problem kind_index_of(const BufferedValue& value, const SpecLanguage& language,
                                    std::size_t& index) {
  if (value.is_string()) {
    const std::string_view text = value.string();
    const auto at = std::find_if(language.kinds.begin(), language.kinds.end(),
                                 [text](std::size_t kind) { return KIND_NAMES[kind] == text; });
    if (at == language.kinds.end()) {
      return "unknown variant `" + std::string(text) + "`, " + expected_kinds(language);
    }
    index = *at;
    return std::nullopt;
  }
  const JsonNumber* number = number_of(value);
  if (number == nullptr || number->kind != JsonNumber::Kind::Unsigned) {
    return invalid_type_message(value, "variant identifier");
  }
  if (number->u >= language.numbered) {
    return invalid_value_message(value,
                                 "variant index 0 <= i < " + std::to_string(language.numbered));
  }
  index = language.kinds[static_cast<std::size_t>(number->u)];
  return std::nullopt;
}

// Finds the "type" member and judges its value, in document order.
[[nodiscard]] Problem select_kind(const BufferedObject& members, const SpecLanguage& language,
                                  std::size_t& index) {
  bool found = false;
  for (const BufferedMember& member : members) {
    if (member.key.string() != "type") continue;
    if (found) return "duplicate field `type`";
    found = true;
    if (Problem problem = kind_index_of(member.value, language, index)) return problem;
  }
  if (!found) return "missing field `type`";
  return std::nullopt;
}

// The member that every kind has in the package's language.
constexpr std::string_view NULL_RATE = "null_rate";

// Reads `null_rate`: a number from 0 to 1.
[[nodiscard]] Problem take_null_rate(const BufferedValue& value, double& out) {
  if (Problem problem = take_f64(value, out)) return problem;
  if (!(out >= 0 && out <= 1)) {
    return parameter_problem("`null_rate` must be a number from 0 to 1, not " + f64_string(out));
  }
  return std::nullopt;
}

// The field pass of kind K: its FIELDS (in the original language only the first
// original_field_count), the first REQUIRED of them required, in the order in which missing ones
// are reported; K::take converts each value, then K::finish checks them together. Members with
// other keys ("type" among them) are skipped; `uses` marks the members taken.
template <class K>
[[nodiscard]] Problem read_kind_as(BufferedObject& members, const SpecLanguage& language,
                                   AttrKind& kind, std::vector<MemberUse>& uses) {
  K& spec = kind.emplace<K>();
  const std::size_t fields = language.extended ? K::FIELDS.size() : original_field_count<K>();
  const auto fields_end = K::FIELDS.begin() + static_cast<std::ptrdiff_t>(fields);
  std::array<bool, K::FIELDS.size()> taken{};
  for (std::size_t m = 0; m < members.size(); ++m) {
    BufferedMember& member = members[m];
    const std::string_view key = member.key.string();
    const auto at = std::find(K::FIELDS.begin(), fields_end, key);
    if (at == fields_end) continue;
    const auto i = static_cast<std::size_t>(at - K::FIELDS.begin());
    if (taken[i]) return "duplicate field `" + std::string(key) + "`";
    taken[i] = true;
    uses[m] = i < original_field_count<K>() ? MemberUse::Original : MemberUse::PackageOnly;
    if (Problem problem = K::take(spec, i, member.value)) return problem;
  }
  for (std::size_t i = 0; i < K::REQUIRED; ++i) {
    if (!taken[i]) return "missing field `" + std::string(K::FIELDS[i]) + "`";
  }
  if constexpr (requires { K::finish(spec); }) {
    if (Problem problem = K::finish(spec)) return problem;
  }
  return std::nullopt;
}

// read_kind_as for each kind, by its index in AttrKind.
using ReadKind = Problem (*)(BufferedObject&, const SpecLanguage&, AttrKind&,
                            std::vector<MemberUse>&);
template <std::size_t... I>
constexpr std::array<ReadKind, KIND_COUNT> kind_readers(std::index_sequence<I...>) {
  return {&read_kind_as<std::variant_alternative_t<I, AttrKind>>...};
}
constexpr std::array<ReadKind, KIND_COUNT> KIND_READERS =
    kind_readers(std::make_index_sequence<KIND_COUNT>());

// The members common to every kind, in the package's language: `null_rate`.
[[nodiscard]] Problem read_common_members(BufferedObject& members, double& null_rate,
                                          std::vector<MemberUse>& uses) {
  bool found = false;
  for (std::size_t m = 0; m < members.size(); ++m) {
    if (members[m].key.string() != NULL_RATE) continue;
    if (found) return "duplicate field `null_rate`";
    found = true;
    uses[m] = MemberUse::PackageOnly;
    if (Problem problem = take_null_rate(members[m].value, null_rate)) return problem;
  }
  return std::nullopt;
}

// ---- the streaming pass

// After the colon of "name": its value must be a string.
bool read_name(JsonReader& reader, std::optional<std::string>& name) {
  const int next = reader.peek_value();
  if (next == JsonReader::END) return false;
  if (next != '"') return reader.report_unexpected("a string");
  StringRead text;
  if (!reader.read_string(text)) return false;
  name.emplace(text.text);
  return true;
}

// Reads the members of a spec object up to its "}" (left for the caller): "name" into name, every
// other member buffered whole, in document order.
bool read_members(JsonReader& reader, std::optional<std::string>& name, BufferedObject& members) {
  StringRead key;
  for (bool first = true;; first = false) {
    switch (reader.next_key(first, key)) {
      case JsonReader::Step::End:
        return true;
      case JsonReader::Step::Failed:
        return false;
      case JsonReader::Step::Item:
        break;
    }
    if (key.text == "name") {
      if (name) return reader.fail("duplicate field `name`");
      if (!reader.read_colon() || !read_name(reader, name)) return false;
    } else {
      BufferedMember& member = members.emplace_back();
      member.key = keep_string(key);
      if (!reader.read_colon() || !reader.read_value(member.value)) return false;
    }
  }
}

// At the "{" of a spec object: reads it whole, then interprets it. Errors of the interpretation
// are placed just after the object's "}", or at the byte of a string they concern. A problem of
// parameters is prefixed with the attribute's name. `notes`, when given, receives the members
// that the original language does not read.
bool read_spec(JsonReader& reader, const SpecLanguage& language, std::vector<AttrSpec>& specs,
               std::vector<std::vector<MemberNote>>* notes) {
  if (!reader.open_bracket()) return false;
  std::optional<std::string> name;
  BufferedObject members;
  AttrKind kind;
  double null_rate = 0;
  bool ok = read_members(reader, name, members);
  std::vector<MemberUse> uses(members.size(), MemberUse::Unread);
  if (ok) {
    std::size_t index = 0;
    Problem problem;
    if (!name) {
      problem = "missing field `name`";
    } else if (!(problem = select_kind(members, language, index))) {
      problem = KIND_READERS[index](members, language, kind, uses);
      if (!problem && language.extended) problem = read_common_members(members, null_rate, uses);
    }
    if (problem) {
      std::string message = std::move(problem->message);
      if (problem->parameter) message = "attribute `" + *name + "`: " + message;
      ok = problem->at != nullptr ? reader.fail_at_byte(problem->at, std::move(message))
                                  : reader.fail(std::move(message));
    }
  }
  reader.finish_object();
  if (!ok) return false;
  if (notes != nullptr) {
    std::vector<MemberNote>& noted = notes->emplace_back();
    for (std::size_t m = 0; m < members.size(); ++m) {
      const std::string_view key = members[m].key.string();
      if (uses[m] == MemberUse::Original || key == "type") continue;
      noted.push_back({std::string(key), uses[m] == MemberUse::PackageOnly});
    }
  }
  specs.push_back({std::move(*name), std::move(kind), null_rate});
  return true;
}

// Gives every spec its name key: its name and how many specs before it share that name.
void set_name_keys(std::vector<AttrSpec>& specs) {
  std::unordered_map<std::string_view, std::uint64_t> seen;
  for (AttrSpec& spec : specs) spec.name_key = name_key(spec.name, seen[spec.name]++);
}

// Reads the array of attribute specs; `starts`, when given, receives the index of each one's "{",
// and `notes` the members that the original language does not read.
bool read_spec_list(JsonReader& reader, const SpecLanguage& language,
                    std::vector<AttrSpec>& specs, std::vector<std::size_t>* starts,
                    std::vector<std::vector<MemberNote>>* notes) {
  const int next = reader.peek_value();
  if (next == JsonReader::END) return false;
  if (next != '[') return reader.report_unexpected("a sequence");
  if (!reader.open_bracket()) return false;
  for (bool first = true;; first = false) {
    switch (reader.next_element(first)) {
      case JsonReader::Step::Item:
        if (reader.peek() != '{') return reader.report_unexpected("struct AttrSpec");
        if (starts != nullptr) starts->push_back(reader.offset());
        if (!read_spec(reader, language, specs, notes)) return false;
        break;
      case JsonReader::Step::End:
        reader.close_bracket();
        if (!reader.end_document()) return false;
        set_name_keys(specs);
        return true;
      case JsonReader::Step::Failed:
        return false;
    }
  }
}

// The kinds of the package's language: every kind, the original four numbered.
template <std::size_t... I>
constexpr std::array<std::size_t, KIND_COUNT> every_kind(std::index_sequence<I...>) {
  return {I...};
}
constexpr std::array<std::size_t, KIND_COUNT> PACKAGE_KINDS =
    every_kind(std::make_index_sequence<KIND_COUNT>());

// The kinds of the original language, which never grows.
constexpr std::array<std::size_t, ORIGINAL_KIND_COUNT> ORIGINAL_KINDS = {
    kind_index<UniformInt>(), kind_index<UniformFloat>(), kind_index<Normal>(),
    kind_index<Choice>()};

[[nodiscard]] std::variant<std::vector<AttrSpec>, ReadError> read_in_language(
    std::string_view text, const SpecLanguage& language) {
  JsonReader reader(text);
  std::vector<AttrSpec> specs;
  if (!read_spec_list(reader, language, specs, nullptr, nullptr)) return reader.take_error();
  return specs;
}

}  // namespace

const SpecLanguage PACKAGE_LANGUAGE{PACKAGE_KINDS, 4, true};
const SpecLanguage ORIGINAL_LANGUAGE{ORIGINAL_KINDS, 4, false};

std::variant<std::vector<AttrSpec>, ReadError> read_specs(std::string_view text) {
  return read_in_language(text, PACKAGE_LANGUAGE);
}

std::variant<std::vector<AttrSpec>, ReadError> read_original_specs(std::string_view text) {
  return read_in_language(text, ORIGINAL_LANGUAGE);
}

std::variant<SpecDocument, ReadError> read_spec_document(std::string_view text) {
  JsonReader reader(text);
  SpecDocument document;
  if (!read_spec_list(reader, PACKAGE_LANGUAGE, document.specs, &document.starts,
                      &document.notes)) {
    return reader.take_error();
  }
  return document;
}

}  // namespace tessary
