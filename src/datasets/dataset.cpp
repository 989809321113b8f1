#include "datasets/dataset.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "specs/json_reader.h"
#include "specs/unexpected_text.h"

namespace tessary {

std::uint64_t table_seed(std::uint64_t seed, std::string_view name) {
  return splitmix64(seed ^ fnv1a64(name), 3);
}

bool is_dataset_document(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\n\r");
  return first != std::string_view::npos && text[first] == '{';
}

namespace {

constexpr std::string_view DATASET_FORM = "a data set {\"tables\": [...]}";
constexpr std::string_view TABLE_FORM =
    "a table {\"name\": ..., \"scale\": ..., \"attributes\": [...]}";

// A table as the first pass reads it.
struct TableEntry {
  std::optional<std::string> name;
  std::size_t name_at = 0;  // the index of the name's opening quote
  std::optional<std::uint64_t> scale;
  std::optional<std::size_t> attributes_begin;  // the index of the list's "["
  std::size_t attributes_end = 0;
  std::vector<std::string> parents;  // the tables its references name, unchecked
};

// ASCII letters, digits, "_", "-" and ".", starting with a letter or a digit.
bool safe_table_name(std::string_view name) {
  const auto letter_or_digit = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  };
  if (name.empty() || !letter_or_digit(name[0])) return false;
  return std::all_of(name.begin(), name.end(), [&](char c) {
    return letter_or_digit(c) || c == '_' || c == '-' || c == '.';
  });
}

const JsonValue* member_of(const JsonObject& object, std::string_view key) {
  for (const JsonMember& member : object) {
    if (member.key == key) return &member.value;
  }
  return nullptr;
}

const std::string* string_member(const JsonObject& object, std::string_view key) {
  const JsonValue* value = member_of(object, key);
  return value == nullptr ? nullptr : std::get_if<std::string>(&value->data);
}

// The tables that the references of a spec object name, its switch's cases included: what orders
// the tables. Anything malformed is left to the second pass, which reads the spec for real.
void collect_parents(const JsonValue& spec, std::vector<std::string>& parents) {
  const auto* object = std::get_if<JsonObject>(&spec.data);
  if (object == nullptr) return;
  const std::string* type = string_member(*object, "type");
  if (type == nullptr) return;
  if (*type == Reference::NAME) {
    if (const std::string* table = string_member(*object, "table")) parents.push_back(*table);
  } else if (*type == Switch::NAME) {
    if (const JsonValue* cases = member_of(*object, "cases")) {
      if (const auto* list = std::get_if<JsonArray>(&cases->data)) {
        for (const JsonValue& item : *list) {
          const auto* branch = std::get_if<JsonObject>(&item.data);
          if (branch == nullptr) continue;
          if (const JsonValue* then = member_of(*branch, "then")) collect_parents(*then, parents);
        }
      }
    }
    if (const JsonValue* fallback = member_of(*object, "default")) {
      collect_parents(*fallback, parents);
    }
  }
}

// After the colon of "name": a string that is a safe table name.
bool read_table_name(JsonReader& reader, TableEntry& entry) {
  if (!reader.expect_value('"', "a string")) return false;
  entry.name_at = reader.offset();
  StringRead text;
  if (!reader.read_string(text)) return false;
  if (!safe_table_name(text.text)) {
    return reader.fail_at_offset(
        entry.name_at + 1,
        "a table's name must be ASCII letters, digits, `_`, `-` and `.`, starting with a letter "
        "or a digit (it names the table's file), not \"" + std::string(text.text) + "\"");
  }
  entry.name.emplace(text.text);
  return true;
}

// After the colon of "scale": an integer from 0 to 2^64 - 1.
bool read_table_scale(JsonReader& reader, TableEntry& entry) {
  BufferedValue value;
  if (!reader.read_value(value)) return false;
  const auto* number = std::get_if<JsonNumber>(&value.data);
  if (number == nullptr || number->kind != JsonNumber::Kind::Unsigned) {
    return reader.fail_at_offset(reader.offset(),
                                 invalid_type_message(value, "an integer from 0 to 2^64 - 1"));
  }
  entry.scale = number->u;
  return true;
}

// After the colon of "attributes": the list, whose syntax is read here and whose specs the second
// pass reads.
bool read_table_attributes(JsonReader& reader, TableEntry& entry) {
  if (!reader.expect_value('[', "a sequence")) return false;
  entry.attributes_begin = reader.offset();
  BufferedValue list;
  if (!reader.read_value(list)) return false;
  entry.attributes_end = reader.offset();
  for (const JsonValue& spec : std::get<JsonArray>(list.data)) collect_parents(spec, entry.parents);
  return true;
}

// At the "{" of a table object: reads it up to its "}".
bool read_table_entry(JsonReader& reader, TableEntry& entry) {
  if (!reader.open_bracket()) return false;
  StringRead key;
  for (bool first = true;; first = false) {
    switch (reader.next_key(first, key)) {
      case JsonReader::Step::End: {
        const std::size_t end = reader.offset() + 1;
        reader.close_bracket();
        const char* missing = !entry.name               ? "name"
                              : !entry.scale            ? "scale"
                              : !entry.attributes_begin ? "attributes"
                                                        : nullptr;
        if (missing != nullptr) {
          return reader.fail_at_offset(end, "missing field `" + std::string(missing) + "`");
        }
        return true;
      }
      case JsonReader::Step::Failed:
        return false;
      case JsonReader::Step::Item:
        break;
    }
    const std::string field(key.text);
    const bool seen = field == "name"         ? entry.name.has_value()
                      : field == "scale"      ? entry.scale.has_value()
                      : field == "attributes" ? entry.attributes_begin.has_value()
                                              : false;
    if (field != "name" && field != "scale" && field != "attributes") {
      return reader.fail_at_offset(reader.offset(), "unknown field `" + field +
                                                        "`, expected `name`, `scale` or "
                                                        "`attributes`");
    }
    if (seen) return reader.fail_at_offset(reader.offset(), "duplicate field `" + field + "`");
    if (!reader.read_colon()) return false;
    const bool ok = field == "name"    ? read_table_name(reader, entry)
                    : field == "scale" ? read_table_scale(reader, entry)
                                       : read_table_attributes(reader, entry);
    if (!ok) return false;
  }
}

// After the colon of "tables": the list of tables, with distinct names.
bool read_table_list(JsonReader& reader, std::vector<TableEntry>& entries) {
  if (!reader.expect_value('[', "a sequence") || !reader.open_bracket()) return false;
  for (bool first = true;; first = false) {
    switch (reader.next_element(first)) {
      case JsonReader::Step::End:
        reader.close_bracket();
        return true;
      case JsonReader::Step::Failed:
        return false;
      case JsonReader::Step::Item:
        break;
    }
    if (reader.peek() != '{') return reader.report_unexpected(TABLE_FORM);
    TableEntry& entry = entries.emplace_back();
    if (!read_table_entry(reader, entry)) return false;
    for (std::size_t t = 0; t + 1 < entries.size(); ++t) {
      if (*entries[t].name == *entry.name) {
        return reader.fail_at_offset(entry.name_at + 1,
                                     "two tables are named \"" + *entry.name + "\"");
      }
    }
  }
}

// The first pass: the document's syntax, and its tables' names, scales and references.
bool read_structure(JsonReader& reader, std::vector<TableEntry>& entries) {
  if (!reader.expect_value('{', DATASET_FORM) || !reader.open_bracket()) return false;
  bool found = false;
  StringRead key;
  for (bool first = true;; first = false) {
    switch (reader.next_key(first, key)) {
      case JsonReader::Step::End: {
        const std::size_t end = reader.offset() + 1;
        reader.close_bracket();
        if (!found) return reader.fail_at_offset(end, "missing field `tables`");
        return reader.end_document();
      }
      case JsonReader::Step::Failed:
        return false;
      case JsonReader::Step::Item:
        break;
    }
    if (key.text != "tables") {
      return reader.fail_at_offset(reader.offset(), "unknown field `" + std::string(key.text) +
                                                        "`, expected `tables`");
    }
    if (found) return reader.fail_at_offset(reader.offset(), "duplicate field `tables`");
    found = true;
    if (!reader.read_colon() || !read_table_list(reader, entries)) return false;
  }
}

ReadError error_at(std::string_view text, std::size_t index, std::string message) {
  JsonReader reader(text);
  (void)reader.fail_at_offset(index, std::move(message));
  return reader.take_error();
}

// The tables in an order in which every table comes after the tables it refers to (a depth-first
// walk from each table in document order), or the error of a cycle, placed at the name of its
// first table.
std::variant<std::vector<std::size_t>, ReadError> parents_first(
    std::string_view text, const std::vector<TableEntry>& entries) {
  enum class Mark : std::uint8_t { Unseen, Walking, Done };
  std::vector<Mark> marks(entries.size(), Mark::Unseen);
  std::vector<std::size_t> order;
  std::vector<std::size_t> path;  // the tables being walked, outermost first
  const auto index_of = [&](const std::string& name) -> std::optional<std::size_t> {
    for (std::size_t t = 0; t < entries.size(); ++t) {
      if (*entries[t].name == name) return t;
    }
    return std::nullopt;  // the second pass reports it, with its position
  };
  std::optional<ReadError> cycle;
  const auto walk = [&](const auto& self, std::size_t t) -> void {
    marks[t] = Mark::Walking;
    path.push_back(t);
    for (const std::string& parent : entries[t].parents) {
      if (cycle) return;
      const std::optional<std::size_t> p = index_of(parent);
      if (!p || marks[*p] == Mark::Done) continue;
      if (marks[*p] == Mark::Walking) {
        const auto from = std::find(path.begin(), path.end(), *p);
        std::string tables;
        for (auto at = from; at != path.end(); ++at) tables += "`" + *entries[*at].name + "` -> ";
        tables += "`" + *entries[*p].name + "`";
        const std::string message =
            path.end() - from == 1
                ? "table `" + *entries[*p].name + "` refers to itself: a table may refer only to "
                  "other tables"
                : "the references of tables " + tables +
                      " form a cycle: a table may not refer to itself through others";
        cycle = error_at(text, entries[*p].name_at + 1, message);
        return;
      }
      self(self, *p);
    }
    path.pop_back();
    marks[t] = Mark::Done;
    order.push_back(t);
  };
  for (std::size_t t = 0; t < entries.size() && !cycle; ++t) {
    if (marks[t] == Mark::Unseen) walk(walk, t);
  }
  if (cycle) return std::move(*cycle);
  return order;
}

// The second pass for one table: its attributes, read with its parents in scope, and checked
// against its scale.
std::variant<DatasetTable, ReadError> read_table(std::string_view text, const TableEntry& entry,
                                                 std::uint64_t seed, const DatasetScope& scope) {
  const std::string label = "table `" + *entry.name + "`: ";
  auto read = read_table_specs(text, *entry.attributes_begin, scope);
  if (ReadError* error = std::get_if<ReadError>(&read)) {
    error->message = label + error->message;
    return std::move(*error);
  }
  SpecDocument& document = std::get<SpecDocument>(read);
  for (std::size_t k = 0; k < document.specs.size(); ++k) {
    if (Problem problem = attribute_scale_problem(document.specs[k], *entry.scale)) {
      return error_at(text, document.starts[k] + 1,
                      label + "attribute `" + document.specs[k].name + "`: " + problem->message);
    }
  }
  auto table = std::make_shared<ReferencedTable>();
  table->name = *entry.name;
  table->scale = *entry.scale;
  table->seed = table_seed(seed, *entry.name);
  table->specs = std::make_shared<const PreparedSpecs>(std::move(document.specs));
  table->draws = prepare_draws(table->specs->specs, table->seed);
  return DatasetTable{std::move(table), *entry.attributes_begin, entry.attributes_end,
                      std::move(document.starts), std::move(document.notes)};
}

}  // namespace

std::variant<Dataset, ReadError> read_dataset(std::string_view text, std::uint64_t seed) {
  std::vector<TableEntry> entries;
  {
    JsonReader reader(text);
    if (!read_structure(reader, entries)) return reader.take_error();
  }
  auto ordered = parents_first(text, entries);
  if (ReadError* error = std::get_if<ReadError>(&ordered)) return std::move(*error);
  Dataset dataset;
  dataset.tables.resize(entries.size());
  DatasetScope scope;
  for (std::size_t t : std::get<std::vector<std::size_t>>(ordered)) {
    auto read = read_table(text, entries[t], seed, scope);
    if (ReadError* error = std::get_if<ReadError>(&read)) return std::move(*error);
    dataset.tables[t] = std::move(std::get<DatasetTable>(read));
    scope.tables.push_back(dataset.tables[t].table);
  }
  return dataset;
}

}  // namespace tessary
