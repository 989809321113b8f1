#include "columns/column_schema.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <optional>
#include <unordered_map>

#include "columns/arrow_status.h"
#include "nanoarrow/hpp/unique.hpp"
#include "output/json_writer.h"
#include "output/output_buffer.h"

namespace tessary {
namespace {

// The largest text a batch column can address with int32 offsets.
constexpr std::uint64_t MAX_COLUMN_TEXT = std::numeric_limits<std::int32_t>::max();

template <typename T>
bool holds(const JsonValue& value) {
  return std::holds_alternative<T>(value.data);
}

// The integer as int64, when it is an integer that fits.
std::optional<std::int64_t> as_int64(const JsonNumber& number) {
  switch (number.kind) {
    case JsonNumber::Kind::Unsigned:
      if (number.u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) break;
      return static_cast<std::int64_t>(number.u);
    case JsonNumber::Kind::Negative:
      return number.i;
    case JsonNumber::Kind::Double:
      break;
  }
  return std::nullopt;
}

// The number as a double, when the double holds it exactly.
std::optional<double> as_exact_double(const JsonNumber& number) {
  switch (number.kind) {
    case JsonNumber::Kind::Unsigned: {
      const double d = static_cast<double>(number.u);
      // 2^64 itself (the rounding of the largest integers) is out of range of the cast back.
      if (d >= 0x1p64 || static_cast<std::uint64_t>(d) != number.u) return std::nullopt;
      return d;
    }
    case JsonNumber::Kind::Negative: {
      const double d = static_cast<double>(number.i);  // in [-2^63, 0): the cast back is defined
      if (static_cast<std::int64_t>(d) != number.i) return std::nullopt;
      return d;
    }
    case JsonNumber::Kind::Double:
      break;
  }
  return number.d;
}

// The column kind of a choice, from the kinds of its non-null values.
ColumnKind choice_kind(const Choice& choice) {
  bool any = false, all_bool = true, all_string = true, all_int64 = true, all_exact = true;
  for (const JsonValue& value : choice.values) {
    if (value.is_null()) continue;
    any = true;
    all_bool = all_bool && holds<bool>(value);
    all_string = all_string && holds<std::string>(value);
    const JsonNumber* number = std::get_if<JsonNumber>(&value.data);
    all_int64 = all_int64 && number != nullptr && as_int64(*number).has_value();
    all_exact = all_exact && number != nullptr && as_exact_double(*number).has_value();
  }
  if (!any) return ColumnKind::ChoiceNull;
  if (all_bool) return ColumnKind::ChoiceBool;
  if (all_string) return ColumnKind::ChoiceDictionary;
  if (all_int64) return ColumnKind::ChoiceInt64;
  if (all_exact) return ColumnKind::ChoiceFloat64;
  return ColumnKind::ChoiceJson;
}

std::string spec_label(std::size_t k) {
  return "specs[" + std::to_string(k) + "]";
}

ColumnSchemaError too_much_text(std::size_t k, const char* texts) {
  return {spec_label(k) + ": " + texts + " take more than " + std::to_string(MAX_COLUMN_TEXT) +
          " bytes, more than a column batch can hold"};
}

// Appends entry `text` to the cell texts; false when the texts would outgrow a batch column.
bool add_text(ChoiceCells& cells, std::string_view text) {
  if (cells.text.size() + text.size() > MAX_COLUMN_TEXT) return false;
  cells.text.append(text);
  cells.offsets.push_back(static_cast<std::int32_t>(cells.text.size()));
  return true;
}

// Fills the cell tables of a choice column; an error when its texts are too large for a batch.
std::optional<ColumnSchemaError> fill_choice_cells(const Choice& choice, std::size_t k,
                                                   Column& column) {
  ChoiceCells& cells = column.choice;
  cells.values = choice.values.data();
  cells.count = choice.values.size();
  cells.valid.resize(cells.count);
  cells.words.assign(cells.count, 0);
  std::unordered_map<std::string_view, std::uint64_t> dictionary_index;
  OutputBuffer json;
  for (std::size_t v = 0; v < cells.count; ++v) {
    const JsonValue& value = choice.values[v];
    cells.valid[v] = !value.is_null();
    column.nullable = column.nullable || value.is_null();
    switch (column.kind) {
      case ColumnKind::ChoiceInt64:
        if (!value.is_null()) {
          cells.words[v] = static_cast<std::uint64_t>(*as_int64(std::get<JsonNumber>(value.data)));
        }
        break;
      case ColumnKind::ChoiceFloat64:
        if (!value.is_null()) {
          cells.words[v] =
              std::bit_cast<std::uint64_t>(*as_exact_double(std::get<JsonNumber>(value.data)));
        }
        break;
      case ColumnKind::ChoiceBool:
        if (!value.is_null()) cells.words[v] = std::get<bool>(value.data) ? 1 : 0;
        break;
      case ColumnKind::ChoiceDictionary:
        if (!value.is_null()) {
          const std::string& text = std::get<std::string>(value.data);
          auto [at, added] = dictionary_index.try_emplace(text, dictionary_index.size());
          if (added && !add_text(cells, text)) {
            return too_much_text(k, "the distinct strings of the choice");
          }
          cells.words[v] = at->second;
        }
        break;
      case ColumnKind::ChoiceJson:
        json.clear();
        if (!value.is_null()) write_value(value, json);
        // The texts of all values are kept as one, so none is too large for a batch either.
        if (!add_text(cells, json.view())) {
          return too_much_text(k, "the JSON texts of the choice's values");
        }
        break;
      default:
        break;
    }
  }
  return std::nullopt;
}

// The kind of the column that a spec types, with its cells for a choice.
std::optional<ColumnSchemaError> type_column(const AttrSpec& spec, std::size_t k, Column& column) {
  switch (spec.kind.index()) {
    case 0:
      column.kind = ColumnKind::Int64;
      return std::nullopt;
    case 1:
    case 2:
      column.kind = ColumnKind::Float64;
      column.nullable = true;  // a value that is not finite is null
      return std::nullopt;
    default:
      break;
  }
  const Choice& choice = std::get<Choice>(spec.kind);
  column.kind = choice_kind(choice);
  if (column.kind == ColumnKind::ChoiceNull) {
    column.nullable = true;
    return std::nullopt;
  }
  return fill_choice_cells(choice, k, column);
}

std::uint64_t longest_entry(const ChoiceCells& cells) {
  std::uint64_t longest = 0;
  for (std::size_t e = 0; e + 1 < cells.offsets.size(); ++e) {
    longest = std::max<std::uint64_t>(longest, cells.offsets[e + 1] - cells.offsets[e]);
  }
  return longest;
}

void set_field(ArrowSchema* field, ArrowType type, std::string_view name, bool nullable) {
  check_arrow(ArrowSchemaSetType(field, type), "ArrowSchemaSetType");
  // Names hold no U+0000 (plan_columns refused them), so the C string is the whole name.
  const std::string c_name(name);
  check_arrow(ArrowSchemaSetName(field, c_name.c_str()), "ArrowSchemaSetName");
  field->flags = nullable ? ARROW_FLAG_NULLABLE : 0;
}

// Marks a utf8 field as the canonical JSON extension type, whose metadata is empty.
void set_json_extension(ArrowSchema* field) {
  nanoarrow::UniqueBuffer metadata;
  check_arrow(ArrowMetadataBuilderInit(metadata.get(), nullptr), "ArrowMetadataBuilderInit");
  check_arrow(ArrowMetadataBuilderAppend(metadata.get(), ArrowCharView("ARROW:extension:name"),
                                         ArrowCharView("arrow.json")),
              "ArrowMetadataBuilderAppend");
  check_arrow(ArrowMetadataBuilderAppend(metadata.get(), ArrowCharView("ARROW:extension:metadata"),
                                         ArrowCharView("")),
              "ArrowMetadataBuilderAppend");
  check_arrow(ArrowSchemaSetMetadata(field, reinterpret_cast<const char*>(metadata->data)),
              "ArrowSchemaSetMetadata");
}

void export_column(const Column& column, ArrowSchema* field) {
  set_field(field, column_storage_type(column.kind), column.name, column.nullable);
  if (column.kind == ColumnKind::ChoiceDictionary) {
    check_arrow(ArrowSchemaAllocateDictionary(field), "ArrowSchemaAllocateDictionary");
    ArrowSchemaInit(field->dictionary);
    check_arrow(ArrowSchemaSetType(field->dictionary, NANOARROW_TYPE_STRING), "ArrowSchemaSetType");
    field->dictionary->flags = 0;
  } else if (column.kind == ColumnKind::ChoiceJson) {
    set_json_extension(field);
  }
}

}  // namespace

std::variant<ColumnSchema, ColumnSchemaError> plan_columns(std::span<const AttrSpec> specs,
                                                           const EntityLayout& layout) {
  for (std::size_t k = 0; k < specs.size(); ++k) {
    const std::string& name = specs[k].name;
    if (name == "id") {
      return ColumnSchemaError{spec_label(k) +
                               " is named \"id\", the name of the id column that begins every "
                               "batch; give the attribute another name"};
    }
    if (name.find('\0') != std::string::npos) {
      OutputBuffer shown;
      write_json_string(name, shown);
      return ColumnSchemaError{spec_label(k) + "'s name " + std::string(shown.view()) +
                               " holds U+0000, which a column name cannot hold"};
    }
  }

  // The last spec of each name types its column.
  std::vector<std::size_t> last_spec(layout.member_names.size());
  for (std::size_t k = 0; k < specs.size(); ++k) last_spec[layout.member_of_spec[k]] = k;

  ColumnSchema schema;
  schema.columns.resize(layout.member_names.size());
  for (std::size_t m = 0; m < schema.columns.size(); ++m) {
    Column& column = schema.columns[m];
    column.name = layout.member_names[m];
    const std::size_t k = last_spec[m];
    column.spec = k;
    if (std::optional<ColumnSchemaError> error = type_column(specs[k], k, column)) {
      return std::move(*error);
    }
    if (column.kind == ColumnKind::ChoiceJson) {
      schema.max_cell_text_bytes =
          std::max(schema.max_cell_text_bytes, longest_entry(column.choice));
    }
  }
  return schema;
}

ArrowType column_storage_type(ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Int64:
    case ColumnKind::ChoiceInt64:
      return NANOARROW_TYPE_INT64;
    case ColumnKind::Float64:
    case ColumnKind::ChoiceFloat64:
      return NANOARROW_TYPE_DOUBLE;
    case ColumnKind::ChoiceNull:
      return NANOARROW_TYPE_NA;
    case ColumnKind::ChoiceBool:
      return NANOARROW_TYPE_BOOL;
    case ColumnKind::ChoiceDictionary:
      return NANOARROW_TYPE_INT32;
    case ColumnKind::ChoiceJson:
      break;
  }
  return NANOARROW_TYPE_STRING;
}

std::uint64_t max_batch_rows(const ColumnSchema& schema) {
  // Arrow lengths are int64, but common readers index rows with int32: keep to that as well.
  return MAX_COLUMN_TEXT / std::max<std::uint64_t>(1, schema.max_cell_text_bytes);
}

std::uint64_t longest_row_bytes(const ColumnSchema& schema) {
  std::uint64_t bytes = sizeof(std::uint64_t);  // the id
  for (const Column& column : schema.columns) {
    switch (column.kind) {
      case ColumnKind::Int64:
      case ColumnKind::Float64:
      case ColumnKind::ChoiceInt64:
      case ColumnKind::ChoiceFloat64:
        bytes += 8;
        break;
      case ColumnKind::ChoiceNull:
        break;
      case ColumnKind::ChoiceBool:
        bytes += 1;
        break;
      case ColumnKind::ChoiceDictionary:  // the dictionary is the batch's, not the row's
        bytes += sizeof(std::int32_t);
        break;
      case ColumnKind::ChoiceJson:
        bytes += sizeof(std::int32_t) + longest_entry(column.choice);
        break;
    }
    bytes += column.nullable ? 1 : 0;
  }
  return bytes;
}

void export_arrow_schema(const ColumnSchema& schema, ArrowSchema* out) {
  nanoarrow::UniqueSchema result;
  ArrowSchemaInit(result.get());
  check_arrow(
      ArrowSchemaSetTypeStruct(result.get(), static_cast<std::int64_t>(schema.columns.size() + 1)),
      "ArrowSchemaSetTypeStruct");
  result->flags = 0;
  set_field(result->children[0], NANOARROW_TYPE_UINT64, "id", false);
  for (std::size_t m = 0; m < schema.columns.size(); ++m) {
    export_column(schema.columns[m], result->children[m + 1]);
  }
  result.move(out);
}

}  // namespace tessary
