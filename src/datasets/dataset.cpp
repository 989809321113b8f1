#include "datasets/dataset.h"

#include <algorithm>
#include <array>
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

// The tables that the references of an attribute object name, its switch's cases included: what
// orders the tables. Anything malformed is left to the second pass, which reads the attribute in
// full.
void collect_parents(const JsonValue& attribute, std::vector<std::string>& parents) {
  const auto* object = std::get_if<JsonObject>(&attribute.data);
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
  for (const JsonValue& attribute : std::get<JsonArray>(list.data)) {
    collect_parents(attribute, entry.parents);
  }
  return true;
}

// At the "{" of an object (the "{" consumed here): reads its members up to its "}". A member's
// key must be one of `fields`, each at most once (`seen` marks them); read(i) reads the value of
// fields[i] from its colon on. At the "}", done(end) judges the whole, `end` the position of the
// "}" for its errors.
template <std::size_t N, class Read, class Done>
bool read_object(JsonReader& reader, const std::array<std::string_view, N>& fields, Read&& read,
                 Done&& done) {
  if (!reader.open_bracket()) return false;
  std::array<bool, N> seen{};
  StringRead key;
  for (bool first = true;; first = false) {
    switch (reader.next_key(first, key)) {
      case JsonReader::Step::End: {
        const std::size_t end = reader.offset() + 1;
        reader.close_bracket();
        return done(end);
      }
      case JsonReader::Step::Failed:
        return false;
      case JsonReader::Step::Item:
        break;
    }
    const auto at = std::find(fields.begin(), fields.end(), key.text);
    if (at == fields.end()) {
      std::string expected;
      for (std::size_t i = 0; i < N; ++i) {
        expected += (i == 0 ? "`" : i + 1 == N ? "` or `" : "`, `") + std::string(fields[i]);
      }
      return reader.fail_at_offset(reader.offset(), "unknown field `" + std::string(key.text) +
                                                        "`, expected " + expected + "`");
    }
    const auto i = static_cast<std::size_t>(at - fields.begin());
    if (seen[i]) {
      return reader.fail_at_offset(reader.offset(), "duplicate field `" + std::string(*at) + "`");
    }
    seen[i] = true;
    if (!reader.read_colon() || !read(i)) return false;
  }
}

constexpr std::array<std::string_view, 3> TABLE_FIELDS = {"name", "scale", "attributes"};

// At the "{" of a table object: reads it up to its "}".
bool read_table_entry(JsonReader& reader, TableEntry& entry) {
  const auto read = [&](std::size_t field) {
    return field == 0   ? read_table_name(reader, entry)
           : field == 1 ? read_table_scale(reader, entry)
                        : read_table_attributes(reader, entry);
  };
  const auto done = [&](std::size_t end) {
    const bool found[] = {entry.name.has_value(), entry.scale.has_value(),
                          entry.attributes_begin.has_value()};
    for (std::size_t i = 0; i < TABLE_FIELDS.size(); ++i) {
      if (!found[i]) {
        return reader.fail_at_offset(end, "missing field `" + std::string(TABLE_FIELDS[i]) + "`");
      }
    }
    return true;
  };
  return read_object(reader, TABLE_FIELDS, read, done);
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
  if (!reader.expect_value('{', DATASET_FORM)) return false;
  bool found = false;
  const auto read = [&](std::size_t) {
    found = true;
    return read_table_list(reader, entries);
  };
  const auto done = [&](std::size_t end) {
    if (!found) return reader.fail_at_offset(end, "missing field `tables`");
    return reader.end_document();
  };
  return read_object(reader, std::array<std::string_view, 1>{"tables"}, read, done);
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
        cycle = placed_error(text, entries[*p].name_at + 1, message);
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

// Tabulates the permutations of a parent's unique_int attributes (keyed_permutation.h): its
// children rebuild them entity after entity, and a rebuilt key then costs one lookup (a domain of
// up to 2^18 values) or a few (up to 2^24) instead of the rounds' multiplies. The values are the
// same.
void tabulate_keys(ReferencedTable& table) {
  for (PreparedDraw& prepared : table.draws) {
    if (prepared.kind != kind_index<UniqueInt>()) continue;
    UniqueInt::Draw draw = prepared.draw.get<UniqueInt>();
    if (auto images = tabulate_images(draw.permutation)) {
      draw.images = table.image_tables.emplace_back(std::move(*images)).data();
    } else if (auto rounds = tabulate_rounds(draw.permutation)) {
      draw.rounds = table.round_tables.emplace_back(std::move(*rounds)).data();
    } else {
      continue;
    }
    prepared.draw.set<UniqueInt>(draw);
  }
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
      return placed_error(text, document.starts[k] + 1,
                      label + "attribute `" + document.specs[k].name + "`: " + problem->message);
    }
  }
  auto table = std::make_shared<ReferencedTable>();
  table->name = *entry.name;
  table->scale = *entry.scale;
  table->seed = table_seed(seed, *entry.name);
  table->specs = std::make_shared<const PreparedSpecs>(std::move(document.specs));
  table->draws = prepare_draws(table->specs->specs, table->seed);
  tabulate_keys(*table);
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
