// What every kind of attribute states about itself, in one place: its unit under kinds/.
//
// A kind is a plain parameter struct K with static members that the dispatch code (the reader,
// the entity draws, check_specs, the column planner, the text bounds and the work estimate) calls
// for whichever kind a spec holds:
//
//   NAME                          what "type" names it by
//   FIELDS, REQUIRED              its members in the order in which missing ones are reported,
//                                 the first REQUIRED of them required
//   ORIGINAL_FIELDS               (optional) how many of FIELDS the original language reads (the
//                                 rest are members that only the package's language honours);
//                                 all of them when absent
//   take(spec, i, value[, scope]) converts the value of member FIELDS[i] into `spec`; a kind
//                                 that refers to earlier specs takes the SpecScope too
//   finish(spec[, scope])         (optional) checks the members together and derives what the
//                                 kind works out once, after reading: a Problem names the member
//   fits_scale(spec, scale)       (optional) why the ids 0 to scale - 1 cannot all be built (a
//                                 Problem naming the member), checked when a table is made
//   fault(spec)                   why every draw would fail, before any draw (ParamFault::None if
//                                 none); building panics with param_fault_message of it
//   Draw, prepare(spec, key)      what a draw needs, worked out once for usable parameters and
//                                 the attribute's key under the call's seed (attribute_keys.h)
//   draw(prepared, rng, entity)   one value of the entity (EntityContext below), taking the
//                                 generator steps the unit documents, as the cell its column
//                                 stores (CellValue below)
//   TAKES_STEPS, takes_steps(spec) (optional) false when its draws never take a step of the
//                                 generator (a reference may then skip it when it rebuilds
//                                 another table's entity); true when absent
//   value(spec, cell)             that cell as a record holds it
//   check(spec, problems)         check_specs' findings beyond fault(): errors and "may fail"
//                                 first, then warnings
//   text_bounds(spec, scratch)    the fewest and most bytes of the JSON text of any value, and
//                                 whether that text is always ASCII
//   work(spec)                    the estimated work of one value, in units of a scalar sample
//   plan_column(spec, k, column)  the column kind of its values, with whatever the column needs
//                                 worked out once (spec k of the list, for messages)
//   fits_column(spec, column)     whether `column` could have been planned from `spec`
//
// kinds/kind_list.h lists the kinds and checks each against KindUnit.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "columns/column.h"
#include "output/number_text.h"
#include "output/output_buffer.h"
#include "random/xoshiro.h"
#include "records/attribute_value.h"
#include "sampling/param_fault.h"
#include "specs/buffered_value.h"
#include "specs/take_field.h"

namespace tessary {

enum class Severity : std::uint8_t { Error, MayFail, Warning };

// One finding of check_specs about a spec's parameters.
struct KindProblem {
  Severity severity = Severity::Error;
  std::string message;
};

// The fewest and the most bytes of the JSON text of a value, and whether every byte of it is
// ASCII whatever the value.
struct ValueTextBounds {
  std::size_t shortest = 0;
  std::size_t longest = 0;
  bool ascii = true;
};

// Whether every byte of `text` is below 0x80.
inline bool is_ascii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// The text bounds of the kinds whose values are doubles, null where not finite: "0.0", or the
// longest shortest-round-trip text (a value that is not finite is "null").
inline ValueTextBounds float_text_bounds() {
  return {3, F64_TEXT_CAPACITY};
}

// The column of the kinds whose values are doubles: float64, null where the value is not finite.
[[nodiscard]] inline std::optional<ColumnSchemaError> plan_float_column(Column& column) {
  column.kind = ColumnKind::Float64;
  column.nullable = true;
  return std::nullopt;
}

// The column of the kinds whose values are integers: int64.
[[nodiscard]] inline std::optional<ColumnSchemaError> plan_int_column(Column& column) {
  column.kind = ColumnKind::Int64;
  return std::nullopt;
}

// The text bounds of the kinds whose values are any int64: one digit, or the 20 bytes of
// -9223372036854775808.
inline ValueTextBounds int_text_bounds() {
  return {1, U64_TEXT_CAPACITY};
}

struct AttrSpec;
struct DatasetScope;

// The specs before the one being read, for the kinds whose values refer to them (template,
// expression, switch). A name refers to the last spec of that name before the one being read; a
// name with none is an unresolved reference, which the reader reports as unknown or as coming
// later. Lives only while a spec is read.
class SpecScope {
 public:
  // `dataset`: the tables a spec of a data set's table may refer to (kinds/reference.h), null
  // for a document of one table.
  explicit SpecScope(std::vector<AttrSpec>& earlier, const DatasetScope* dataset = nullptr)
      : earlier_(earlier), dataset_(dataset) {}

  // The index of the last spec before this one named `name`, if any.
  std::optional<std::size_t> find(std::string_view name) const;
  // How many specs come before this one: its index, when it is a spec of the list.
  std::size_t size() const;
  // Spec k before this one.
  const AttrSpec& spec(std::size_t k) const;
  const DatasetScope* dataset() const { return dataset_; }
  // The column spec k's values take: the types a reference may assume of them.
  Column column_of(std::size_t k) const;
  // The bounds of spec k's JSON text, "null" included when it may be null.
  ValueTextBounds text_bounds_of(std::size_t k) const;
  // Keeps spec k's value for the specs after it, which read it.
  void refer_to(std::size_t k);
  // The problem of a reference to `name` that names no earlier spec, at byte `at` of the document
  // (or null).
  static ProblemText unresolved(std::string_view name, const char* at);

 private:
  std::vector<AttrSpec>& earlier_;
  const DatasetScope* dataset_ = nullptr;
};

// What a draw may read of its entity besides the generator: its id, the values of the specs
// before the drawing one (those that a later spec refers to), and the entity's text, to which a
// draw that makes a string appends it (a TextSpan of it is the string's value). A reference
// (kinds/reference.h) keeps the id of the parent it picked in parent_ids[k], k its index in the
// list, for the references after it that reuse it.
struct EntityContext {
  std::uint64_t id = 0;
  const AttributeValue* values = nullptr;  // values[k] of spec k, for the specs referred to
  OutputBuffer* text = nullptr;
  std::uint64_t* parent_ids = nullptr;  // one per attribute of the list
};

// What a kind's draw gives, and so which cells its column stores: an std::int64_t (int64 and
// timestamp columns), a double (float64, null where not finite), a std::size_t (the index of a
// value in the column's ChoiceCells), a bool, an std::int32_t (date32 days), the UuidBits of a
// UUID (16 bytes), the TextSpan of a string in the entity's text (utf8), or an AttributeValue of
// any kind (a kind whose values vary in type: the column converts it).
template <class T>
concept CellValue =
    std::same_as<T, std::int64_t> || std::same_as<T, double> || std::same_as<T, std::size_t> ||
    std::same_as<T, bool> || std::same_as<T, std::int32_t> || std::same_as<T, UuidBits> ||
    std::same_as<T, TextSpan> || std::same_as<T, AttributeValue>;

// How many of K's FIELDS the original language reads.
template <class K>
constexpr std::size_t original_field_count() {
  if constexpr (requires { K::ORIGINAL_FIELDS; }) {
    return K::ORIGINAL_FIELDS;
  } else {
    return K::FIELDS.size();
  }
}

template <class K>
concept KindUnit = requires(K& spec, const K& params, BufferedValue& value,
                            Xoshiro256PlusPlus& rng, std::vector<KindProblem>& problems,
                            OutputBuffer& scratch, Column& column, const EntityContext& entity) {
  { K::NAME } -> std::convertible_to<std::string_view>;
  { K::FIELDS.size() } -> std::convertible_to<std::size_t>;
  { K::REQUIRED } -> std::convertible_to<std::size_t>;
  requires requires { { K::take(spec, std::size_t{}, value) } -> std::same_as<Problem>; } ||
               requires(SpecScope& scope) {
                 { K::take(spec, std::size_t{}, value, scope) } -> std::same_as<Problem>;
               };
  { K::fault(params) } -> std::same_as<ParamFault>;
  requires std::is_trivially_copyable_v<typename K::Draw> && alignof(typename K::Draw) <= 8;
  { K::prepare(params, std::uint64_t{}) } -> std::same_as<typename K::Draw>;
  { K::draw(K::prepare(params, std::uint64_t{}), rng, entity) } -> CellValue;
  {
    K::value(params, K::draw(K::prepare(params, std::uint64_t{}), rng, entity))
  } -> std::same_as<AttributeValue>;
  { K::check(params, problems) } -> std::same_as<void>;
  { K::text_bounds(params, scratch) } -> std::same_as<ValueTextBounds>;
  { K::work(params) } -> std::same_as<std::uint64_t>;
  {
    K::plan_column(params, std::size_t{}, column)
  } -> std::same_as<std::optional<ColumnSchemaError>>;
  { K::fits_column(params, std::as_const(column)) } -> std::same_as<bool>;
};

}  // namespace tessary
