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

std::uint64_t longest_entry(const ChoiceCells& cells) {
  std::uint64_t longest = 0;
  for (std::size_t e = 0; e + 1 < cells.offsets.size(); ++e) {
    longest = std::max<std::uint64_t>(longest, cells.offsets[e + 1] - cells.offsets[e]);
  }
  return longest;
}

void set_field(ArrowSchema* field, ArrowType type, std::string_view name, bool nullable) {
  if (type == NANOARROW_TYPE_FIXED_SIZE_BINARY) {
    check_arrow(ArrowSchemaSetTypeFixedSize(field, type, UUID_BYTES),
                "ArrowSchemaSetTypeFixedSize");
  } else {
    check_arrow(ArrowSchemaSetType(field, type), "ArrowSchemaSetType");
  }
  // Names hold no U+0000 (plan_columns refused them), so the C string is the whole name.
  const std::string c_name(name);
  check_arrow(ArrowSchemaSetName(field, c_name.c_str()), "ArrowSchemaSetName");
  field->flags = nullable ? ARROW_FLAG_NULLABLE : 0;
}

// Marks a field as a canonical extension type whose metadata is empty: "arrow.json" over utf8,
// "arrow.uuid" over fixed_size_binary(16).
void set_extension(ArrowSchema* field, const char* name) {
  nanoarrow::UniqueBuffer metadata;
  check_arrow(ArrowMetadataBuilderInit(metadata.get(), nullptr), "ArrowMetadataBuilderInit");
  check_arrow(ArrowMetadataBuilderAppend(metadata.get(), ArrowCharView("ARROW:extension:name"),
                                         ArrowCharView(name)),
              "ArrowMetadataBuilderAppend");
  check_arrow(ArrowMetadataBuilderAppend(metadata.get(), ArrowCharView("ARROW:extension:metadata"),
                                         ArrowCharView("")),
              "ArrowMetadataBuilderAppend");
  check_arrow(ArrowSchemaSetMetadata(field, reinterpret_cast<const char*>(metadata->data)),
              "ArrowSchemaSetMetadata");
}

void export_column(const Column& column, ArrowSchema* field) {
  set_field(field, column_storage_type(column.kind), column.name, column.nullable);
  if (column.kind == ColumnKind::Timestamp) {
    const char format[] = {'t', 's', column.time_unit, ':', 'U', 'T', 'C', '\0'};
    check_arrow(ArrowSchemaSetFormat(field, format), "ArrowSchemaSetFormat");
  } else if (column.kind == ColumnKind::Date32) {
    check_arrow(ArrowSchemaSetFormat(field, "tdD"), "ArrowSchemaSetFormat");
  } else if (column.kind == ColumnKind::Uuid) {
    set_extension(field, "arrow.uuid");
  } else if (column.kind == ColumnKind::ChoiceDictionary) {
    check_arrow(ArrowSchemaAllocateDictionary(field), "ArrowSchemaAllocateDictionary");
    ArrowSchemaInit(field->dictionary);
    check_arrow(ArrowSchemaSetType(field->dictionary, NANOARROW_TYPE_STRING), "ArrowSchemaSetType");
    field->dictionary->flags = 0;
  } else if (column.kind == ColumnKind::ChoiceJson || column.kind == ColumnKind::Json) {
    set_extension(field, "arrow.json");
  }
}

}  // namespace

std::variant<ColumnSchema, ColumnSchemaError> plan_columns(std::span<const AttrSpec> specs,
                                                           const EntityLayout& layout) {
  for (std::size_t k = 0; k < specs.size(); ++k) {
    const std::string& name = specs[k].name;
    if (layout.member_of_spec[k] == EntityLayout::HIDDEN) continue;  // no column
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
  for (std::size_t k = 0; k < specs.size(); ++k) {
    if (layout.member_of_spec[k] != EntityLayout::HIDDEN) last_spec[layout.member_of_spec[k]] = k;
  }

  ColumnSchema schema;
  schema.columns.resize(layout.member_names.size());
  for (std::size_t m = 0; m < schema.columns.size(); ++m) {
    Column& column = schema.columns[m];
    column.name = layout.member_names[m];
    const std::size_t k = last_spec[m];
    column.spec = k;
    if (std::optional<ColumnSchemaError> error = plan_attribute_column(specs[k], k, column)) {
      return std::move(*error);
    }
    if (column.kind == ColumnKind::ChoiceJson) {
      schema.max_cell_text_bytes =
          std::max(schema.max_cell_text_bytes, longest_entry(column.choice));
    } else if (column.kind == ColumnKind::Utf8 || column.kind == ColumnKind::Json) {
      if (column.longest_text >= MAX_COLUMN_TEXT) {
        return ColumnSchemaError{spec_label(k) + "'s values can take " +
                                 std::to_string(column.longest_text) +
                                 " bytes, too many for a batch column"};
      }
      schema.max_cell_text_bytes = std::max(schema.max_cell_text_bytes, column.longest_text);
    }
  }
  return schema;
}

ArrowType column_storage_type(ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Int64:
    case ColumnKind::ChoiceInt64:
    case ColumnKind::Timestamp:
      return NANOARROW_TYPE_INT64;
    case ColumnKind::UInt64:
      return NANOARROW_TYPE_UINT64;
    case ColumnKind::Date32:
      return NANOARROW_TYPE_INT32;
    case ColumnKind::Uuid:
      return NANOARROW_TYPE_FIXED_SIZE_BINARY;
    case ColumnKind::Float64:
    case ColumnKind::ChoiceFloat64:
      return NANOARROW_TYPE_DOUBLE;
    case ColumnKind::ChoiceNull:
      return NANOARROW_TYPE_NA;
    case ColumnKind::Bool:
    case ColumnKind::ChoiceBool:
      return NANOARROW_TYPE_BOOL;
    case ColumnKind::ChoiceDictionary:
      return NANOARROW_TYPE_INT32;
    case ColumnKind::ChoiceJson:
    case ColumnKind::Utf8:
    case ColumnKind::Json:
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
      case ColumnKind::UInt64:
      case ColumnKind::Float64:
      case ColumnKind::Timestamp:
      case ColumnKind::ChoiceInt64:
      case ColumnKind::ChoiceFloat64:
        bytes += 8;
        break;
      case ColumnKind::Date32:
        bytes += 4;
        break;
      case ColumnKind::Uuid:
        bytes += 16;
        break;
      case ColumnKind::ChoiceNull:
        break;
      case ColumnKind::Bool:
      case ColumnKind::ChoiceBool:
        bytes += 1;
        break;
      case ColumnKind::ChoiceDictionary:  // the dictionary is the batch's, not the row's
        bytes += sizeof(std::int32_t);
        break;
      case ColumnKind::ChoiceJson:
        bytes += sizeof(std::int32_t) + longest_entry(column.choice);
        break;
      case ColumnKind::Utf8:
      case ColumnKind::Json:
        bytes += sizeof(std::int32_t) + column.longest_text;
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
