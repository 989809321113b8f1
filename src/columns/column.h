// A column of a record batch as planned from the attribute specs: its Arrow kind and, for a
// choice, the cell of each of its values. column_schema.h plans them; each kind's unit (kinds/)
// says which column its values go to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "records/json_value.h"

namespace tessary {

// The width of a UUID cell.
inline constexpr int UUID_BYTES = 16;

// The largest text a batch column can address with int32 offsets.
inline constexpr std::uint64_t MAX_COLUMN_TEXT = std::numeric_limits<std::int32_t>::max();

enum class ColumnKind : std::uint8_t {
  Int64,             // uniform_int and the other kinds of integers
  UInt64,            // entity ids (a reference to another table's `id`)
  Float64,           // uniform_float, normal and the other kinds of doubles
  Bool,              // bernoulli
  Timestamp,         // timestamp: int64 units (Column::time_unit) since the epoch, UTC
  Date32,            // date: int32 days since the epoch
  Uuid,              // uuid: 16 bytes, the canonical UUID extension type
  Utf8,              // strings made for each entity (pattern, template)
  Json,              // values of several types (a switch's): each value's JSON text
  ChoiceNull,        // choice with no values, or only null ones
  ChoiceInt64,       // choice of integers that fit int64
  ChoiceFloat64,     // choice of numbers that are all exact as doubles
  ChoiceBool,        // choice of booleans
  ChoiceDictionary,  // choice of strings
  ChoiceJson,        // any other choice: the values' JSON text
};

// Whether a column of this kind stores a choice's cells (ChoiceCells), one per value.
inline bool holds_choice_cells(ColumnKind kind) {
  switch (kind) {
    case ColumnKind::ChoiceInt64:
    case ColumnKind::ChoiceFloat64:
    case ColumnKind::ChoiceBool:
    case ColumnKind::ChoiceDictionary:
    case ColumnKind::ChoiceJson:
      return true;
    case ColumnKind::Int64:
    case ColumnKind::UInt64:
    case ColumnKind::Float64:
    case ColumnKind::Bool:
    case ColumnKind::Timestamp:
    case ColumnKind::Date32:
    case ColumnKind::Uuid:
    case ColumnKind::Utf8:
    case ColumnKind::Json:
    case ColumnKind::ChoiceNull:
      break;
  }
  return false;
}

// What a choice column holds for each of its spec's values, by value index.
struct ChoiceCells {
  const JsonValue* values = nullptr;  // the choice's values: a borrowed value's index is its offset
  std::size_t count = 0;              // number of values
  std::vector<std::uint8_t> valid;    // 0 where the value is JSON null, else 1
  // One word per value: ChoiceInt64 the integer, ChoiceFloat64 the double's bits, ChoiceBool 0 or
  // 1, ChoiceDictionary the index of the string in `text`; ChoiceJson leaves it 0 (the value's
  // text is entry `index` of `text`). Null values hold 0.
  std::vector<std::uint64_t> words;
  // ChoiceDictionary: the distinct strings, first-seen order. ChoiceJson: the JSON text of every
  // value, null ones as empty texts. Entry e is text[offsets[e], offsets[e + 1]); as Arrow utf8
  // offsets, they are copied into a batch as they are.
  std::string text;
  std::vector<std::int32_t> offsets{0};
};

struct Column {
  std::string_view name;  // the attribute name (points into the specs)
  std::size_t spec = 0;   // the index of the name's last spec, whose values the column holds
  ColumnKind kind = ColumnKind::Int64;
  // Timestamp: the unit, as the Arrow format string's letter: 's', 'm' (ms) or 'u' (us).
  char time_unit = 's';
  // Utf8 and Json: the most bytes of one cell's text.
  std::uint64_t longest_text = 0;
  bool nullable = false;
  ChoiceCells choice;  // for the Choice kinds
};

// Attribute specs that cannot be laid out as columns; `message` says which one and why.
struct [[nodiscard]] ColumnSchemaError {
  std::string message;
};

// "specs[k]": how a column error names the attribute spec at index k.
inline std::string spec_label(std::size_t k) {
  return "specs[" + std::to_string(k) + "]";
}

}  // namespace tessary
