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
// The member of the specs of the list in the package's language.
constexpr std::string_view HIDDEN = "hidden";

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
                                   SpecScope& scope, AttrKind& kind,
                                   std::vector<MemberUse>& uses) {
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
    Problem problem;
    if constexpr (requires { K::take(spec, i, member.value, scope); }) {
      problem = K::take(spec, i, member.value, scope);
    } else {
      problem = K::take(spec, i, member.value);
    }
    if (problem) return problem;
  }
  for (std::size_t i = 0; i < K::REQUIRED; ++i) {
    if (!taken[i]) return "missing field `" + std::string(K::FIELDS[i]) + "`";
  }
  if constexpr (requires { K::finish(spec, scope); }) {
    if (Problem problem = K::finish(spec, scope)) return problem;
  } else if constexpr (requires { K::finish(spec); }) {
    if (Problem problem = K::finish(spec)) return problem;
  }
  return std::nullopt;
}

// read_kind_as for each kind, by its index in AttrKind.
using ReadKind = Problem (*)(BufferedObject&, const SpecLanguage&, SpecScope&, AttrKind&,
                            std::vector<MemberUse>&);
template <std::size_t... I>
constexpr std::array<ReadKind, KIND_COUNT> kind_readers(std::index_sequence<I...>) {
  return {&read_kind_as<std::variant_alternative_t<I, AttrKind>>...};
}
constexpr std::array<ReadKind, KIND_COUNT> KIND_READERS =
    kind_readers(std::make_index_sequence<KIND_COUNT>());

// The members common to every kind, in the package's language: `null_rate`, and `hidden` for a
// spec of the list (not a switch's case).
[[nodiscard]] Problem read_common_members(BufferedObject& members, AttrSpec& spec,
                                          bool listed, std::vector<MemberUse>& uses) {
  bool found_null_rate = false;
  bool found_hidden = false;
  for (std::size_t m = 0; m < members.size(); ++m) {
    const std::string_view key = members[m].key.string();
    Problem problem;
    if (key == NULL_RATE) {
      if (found_null_rate) return "duplicate field `null_rate`";
      found_null_rate = true;
      problem = take_null_rate(members[m].value, spec.null_rate);
    } else if (key == HIDDEN && listed) {
      if (found_hidden) return "duplicate field `hidden`";
      found_hidden = true;
      const auto* flag = std::get_if<bool>(&members[m].value.data);
      if (flag == nullptr) return invalid_type_message(members[m].value, "a boolean");
      spec.hidden = *flag;
    } else {
      continue;
    }
    uses[m] = MemberUse::PackageOnly;
    if (problem) return problem;
  }
  return std::nullopt;
}

// Interprets the members of a spec object whose name is read: its kind, the kind's members and
// the common ones. The problem, if any, is the first in the order of those steps.
[[nodiscard]] Problem interpret_spec(BufferedObject& members, const SpecLanguage& language,
                                     SpecScope& scope, bool listed, AttrSpec& spec,
                                     std::vector<MemberUse>& uses) {
  std::size_t index = 0;
  if (Problem problem = select_kind(members, language, index)) return problem;
  if (Problem problem = KIND_READERS[index](members, language, scope, spec.kind, uses)) {
    return problem;
  }
  if (!language.extended) return std::nullopt;
  return read_common_members(members, spec, listed, uses);
}

// ---- the streaming pass

// After the colon of "name": its value must be a string.
bool read_name(JsonReader& reader, std::optional<std::string>& name) {
  if (!reader.expect_value('"', "a string")) return false;
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

// A reference that named no earlier spec, kept until the list is read: whether a later spec has
// the name decides the message. The reader stops at the first.
struct UnresolvedReference {
  std::size_t spec = 0;       // its index
  std::string referring;      // the attribute that refers
  std::string name;           // the name it refers to
  std::size_t position = 0;   // where the error is placed
};

// At the "{" of a spec object: reads it whole, then interprets it. Errors of the interpretation
// are placed just after the object's "}", or at the byte of a string they concern. A problem of
// parameters is prefixed with the attribute's name. `notes`, when given, receives the members
// that the original language does not read. A reference to a name that no earlier spec has is
// kept in `unresolved` (the first one), and a constant null stands in for the attribute.
bool read_spec(JsonReader& reader, const SpecLanguage& language, const DatasetScope* dataset,
               std::vector<AttrSpec>& specs, std::vector<std::vector<MemberNote>>* notes,
               std::optional<UnresolvedReference>& unresolved) {
  if (!reader.open_bracket()) return false;
  std::optional<std::string> name;
  BufferedObject members;
  AttrSpec spec;
  bool ok = read_members(reader, name, members);
  std::vector<MemberUse> uses(members.size(), MemberUse::Unread);
  Problem problem;
  if (ok) {
    SpecScope scope(specs, dataset);
    problem = !name ? Problem("missing field `name`")
                    : interpret_spec(members, language, scope, true, spec, uses);
    if (problem && problem->unresolved_name.empty()) {
      std::string message = std::move(problem->message);
      if (problem->parameter) message = "attribute `" + *name + "`: " + message;
      ok = problem->at != nullptr ? reader.fail_at_byte(problem->at, std::move(message))
                                  : reader.fail(std::move(message));
    }
  }
  reader.finish_object();
  if (!ok) return false;
  if (problem) {  // an unresolved reference: a constant null stands in for the attribute
    if (!unresolved) {
      const std::size_t position =
          problem->at != nullptr ? static_cast<std::size_t>(problem->at - reader.text().data()) + 1
                                 : reader.offset();
      unresolved =
          UnresolvedReference{specs.size(), *name, problem->unresolved_name, position};
    }
    spec.kind.emplace<Const>();
  }
  if (notes != nullptr) {
    std::vector<MemberNote>& noted = notes->emplace_back();
    for (std::size_t m = 0; m < members.size(); ++m) {
      const std::string_view key = members[m].key.string();
      if (uses[m] == MemberUse::Original || key == "type") continue;
      noted.push_back({std::string(key), uses[m] == MemberUse::PackageOnly});
    }
  }
  spec.name = std::move(*name);
  specs.push_back(std::move(spec));
  return true;
}

// The error of an unresolved reference, once every spec is read.
bool fail_unresolved(JsonReader& reader, const std::vector<AttrSpec>& specs,
                     const UnresolvedReference& reference) {
  const bool later = std::any_of(specs.begin() + static_cast<std::ptrdiff_t>(reference.spec) + 1,
                                 specs.end(),
                                 [&](const AttrSpec& spec) { return spec.name == reference.name; });
  const std::string start = "attribute `" + reference.referring + "` refers to ";
  const std::string message =
      later ? start + "`" + reference.name +
                  "`, which comes after it: an attribute may use only those before it"
      : reference.name == reference.referring
          ? start + "itself: an attribute may use only those before it"
          : start + "`" + reference.name + "`, which no attribute is named";
  return reader.fail_at_offset(reference.position, message);
}

// Gives every spec its name key: its name and how many specs before it share that name.
void set_name_keys(std::vector<AttrSpec>& specs) {
  std::unordered_map<std::string_view, std::uint64_t> seen;
  for (AttrSpec& spec : specs) spec.name_key = name_key(spec.name, seen[spec.name]++);
}

// Where a list of attribute specs is read: a document of its own, or a data set's table.
struct ListPlace {
  const DatasetScope* dataset = nullptr;  // the tables in scope, for a data set's table
  bool whole_document = true;             // whether nothing may follow the list
};

// Reads the array of attribute specs; `starts`, when given, receives the index of each one's "{",
// and `notes` the members that the original language does not read.
bool read_spec_list(JsonReader& reader, const SpecLanguage& language, ListPlace place,
                    std::vector<AttrSpec>& specs, std::vector<std::size_t>* starts,
                    std::vector<std::vector<MemberNote>>* notes) {
  std::optional<UnresolvedReference> unresolved;
  if (!reader.expect_value('[', "a sequence") || !reader.open_bracket()) return false;
  for (bool first = true;; first = false) {
    switch (reader.next_element(first)) {
      case JsonReader::Step::Item:
        if (reader.peek() != '{') return reader.report_unexpected("struct AttrSpec");
        if (starts != nullptr) starts->push_back(reader.offset());
        if (!read_spec(reader, language, place.dataset, specs, notes, unresolved)) return false;
        break;
      case JsonReader::Step::End:
        reader.close_bracket();
        if (place.whole_document && !reader.end_document()) return false;
        if (unresolved) return fail_unresolved(reader, specs, *unresolved);
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
  if (!read_spec_list(reader, language, {}, specs, nullptr, nullptr)) return reader.take_error();
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

Problem read_case_spec(const JsonValue& object, SpecScope& scope, AttrSpec& out) {
  const auto* members = std::get_if<JsonObject>(&object.data);
  if (members == nullptr) return invalid_type_message(object, "a spec object");
  BufferedObject buffered;
  for (const JsonMember& member : *members) {
    if (member.key == "name") return "a case's spec takes no `name`";
    BufferedMember& copy = buffered.emplace_back();
    copy.key.data = member.key;
    std::visit([&copy](const auto& data) { copy.value.data = data; }, member.value.data);
  }
  std::vector<MemberUse> uses(buffered.size(), MemberUse::Unread);
  return interpret_spec(buffered, PACKAGE_LANGUAGE, scope, false, out, uses);
}

std::variant<SpecDocument, ReadError> read_spec_document(std::string_view text) {
  JsonReader reader(text);
  SpecDocument document;
  if (!read_spec_list(reader, PACKAGE_LANGUAGE, {}, document.specs, &document.starts,
                      &document.notes)) {
    return reader.take_error();
  }
  return document;
}

std::variant<SpecDocument, ReadError> read_table_specs(std::string_view text, std::size_t start,
                                                       const DatasetScope& dataset) {
  JsonReader reader(text, start);
  SpecDocument document;
  if (!read_spec_list(reader, PACKAGE_LANGUAGE, {&dataset, false}, document.specs,
                      &document.starts, &document.notes)) {
    return reader.take_error();
  }
  return document;
}

}  // namespace tessary
