#include "stream_vectors.h"

#include <fstream>
#include <limits>
#include <optional>
#include <sstream>

#include "digest/sha256.h"
#include "generators/entities/build_entity.h"
#include "generators/entities/generate.h"
#include "output/json_writer.h"
#include "records/entity_record.h"
#include "records/panic.h"
#include "specs/json_reader.h"
#include "specs/read_specs.h"

namespace tessary::vectors {
namespace {

using Problem = std::optional<std::string>;

const JsonValue* member(const JsonObject& object, std::string_view key) {
  for (const JsonMember& m : object) {
    if (m.key == key) return &m.value;
  }
  return nullptr;
}

Problem take_u64(const JsonObject& object, std::string_view key, std::uint64_t& out) {
  const JsonValue* value = member(object, key);
  const JsonNumber* number = value ? std::get_if<JsonNumber>(&value->data) : nullptr;
  if (number == nullptr || number->kind != JsonNumber::Kind::Unsigned) {
    return "\"" + std::string(key) + "\" must be an integer from 0 to 2^64 - 1";
  }
  out = number->u;
  return std::nullopt;
}

Problem take_string(const JsonObject& object, std::string_view key, std::string& out) {
  const JsonValue* value = member(object, key);
  const std::string* text = value ? std::get_if<std::string>(&value->data) : nullptr;
  if (text == nullptr) return "\"" + std::string(key) + "\" must be a string";
  out = *text;
  return std::nullopt;
}

Problem take_strings(const JsonObject& object, std::string_view key,
                     std::vector<std::string>& out) {
  const JsonValue* value = member(object, key);
  const JsonArray* items = value ? std::get_if<JsonArray>(&value->data) : nullptr;
  if (items == nullptr) return "\"" + std::string(key) + "\" must be an array of strings";
  for (const JsonValue& item : *items) {
    const std::string* text = std::get_if<std::string>(&item.data);
    if (text == nullptr) return "\"" + std::string(key) + "\" must be an array of strings";
    out.push_back(*text);
  }
  return std::nullopt;
}

Problem take_case(const JsonValue& value, StreamCase& c) {
  const JsonObject* object = std::get_if<JsonObject>(&value.data);
  if (object == nullptr) return "a case must be an object";
  Problem problem;
  if ((problem = take_string(*object, "name", c.name)) ||
      (problem = take_u64(*object, "seed", c.seed)) ||
      (problem = take_string(*object, "specs", c.specs)) ||
      (problem = take_u64(*object, "start", c.start)) ||
      (problem = take_u64(*object, "stop", c.stop)) ||
      (problem = take_string(*object, "sha256", c.sha256)) ||
      (problem = take_strings(*object, "first", c.first)) ||
      (problem = take_strings(*object, "paths", c.paths))) {
    return problem;
  }
  if (c.stop < c.start) return "\"stop\" is below \"start\"";
  if (c.first.size() > c.stop - c.start) return "\"first\" lists more entities than the range";
  return std::nullopt;
}

// The text of a case's range, written into `on_bytes` piece by piece: "[", each entity (the first
// `keep` of them also copied into `first`), separated by ",", then "]".
template <class OnBytes>
void write_range(std::uint64_t seed, std::uint64_t start, std::uint64_t stop,
                 const std::vector<AttrSpec>& specs, std::size_t keep,
                 std::vector<std::string>& first, OnBytes&& on_bytes) {
  const EntityLayout layout = layout_entities(specs);
  const EntityKeys keys = prepare_entity_keys(layout);
  EntityRecord record = make_entity_record(layout);
  on_bytes(std::string_view("["));
  for (std::uint64_t id = start; id < stop; ++id) {
    if (id != start) on_bytes(std::string_view(","));
    build_entity(seed, id, specs, record);
    OutputBuffer entity;
    write_entity(record, keys, entity);
    if (id - start < keep) first.emplace_back(entity.view());
    on_bytes(entity.view());
  }
  on_bytes(std::string_view("]"));
}

// Sets `digest` to that of generate_entities(seed, stop, specs), the block-parallel pipeline.
Problem pipeline_digest(const StreamCase& c, std::string& digest) {
  const GenerateLimits limits{std::numeric_limits<std::uint64_t>::max(), 0};
  const GenerateResult result = generate_entities(c.seed, c.stop, c.specs, limits);
  if (const ReadError* error = std::get_if<ReadError>(&result)) return error->display();
  const GeneratedText* text = std::get_if<GeneratedText>(&result);
  if (text == nullptr) return "the pipeline gave no text";
  Sha256 sha;
  for (const std::optional<OutputBuffer>& block : text->blocks) sha.update(block->view());
  digest = sha.finish().hex();
  return std::nullopt;
}

}  // namespace

std::variant<StreamVectors, std::string> parse_stream_vectors(std::string_view text) {
  JsonReader reader(text);
  BufferedValue document;
  if (!reader.read_value(document) || !reader.end_document()) {
    return reader.take_error().display();
  }
  const JsonObject* root = std::get_if<JsonObject>(&document.data);
  if (root == nullptr) return std::string("the vectors file must hold one JSON object");
  StreamVectors vectors;
  if (Problem problem = take_u64(*root, "stream_version", vectors.stream_version)) {
    return *problem;
  }
  const JsonValue* cases = member(*root, "cases");
  const JsonArray* items = cases ? std::get_if<JsonArray>(&cases->data) : nullptr;
  if (items == nullptr) return std::string("\"cases\" must be an array");
  for (std::size_t i = 0; i < items->size(); ++i) {
    StreamCase c;
    if (Problem problem = take_case((*items)[i], c)) {
      return "case " + std::to_string(i) + ": " + *problem;
    }
    vectors.cases.push_back(std::move(c));
  }
  return vectors;
}

std::variant<StreamVectors, std::string> load_stream_vectors(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return "cannot open " + path;
  std::ostringstream contents;
  contents << file.rdbuf();
  if (!file) return "cannot read " + path;
  return parse_stream_vectors(contents.str());
}

std::variant<RangeText, std::string> regenerate(const StreamCase& c) {
  auto read = read_specs(c.specs);
  if (const ReadError* error = std::get_if<ReadError>(&read)) return error->display();
  RangeText result;
  Sha256 sha;
  write_range(c.seed, c.start, c.stop, std::get<std::vector<AttrSpec>>(read), c.first.size(),
              result.first, [&sha](std::string_view bytes) { sha.update(bytes); });
  result.sha256 = sha.finish().hex();
  return result;
}

std::string check_case(const StreamCase& c) {
  try {
    auto regenerated = regenerate(c);
    if (const std::string* error = std::get_if<std::string>(&regenerated)) {
      return "the specs do not read: " + *error;
    }
    const RangeText& range = std::get<RangeText>(regenerated);
    for (std::size_t i = 0; i < c.first.size(); ++i) {
      if (range.first[i] != c.first[i]) {
        return "entity " + std::to_string(c.start + i) + " is " + range.first[i] +
               ", expected " + c.first[i];
      }
    }
    if (range.sha256 != c.sha256) {
      return "the text's SHA-256 is " + range.sha256 + ", expected " + c.sha256;
    }
    if (c.start == 0) {
      std::string whole;
      if (Problem problem = pipeline_digest(c, whole)) return "the pipeline failed: " + *problem;
      if (whole != c.sha256) {
        return "the pipeline's SHA-256 is " + whole + ", expected " + c.sha256;
      }
    }
  } catch (const Panic& panic) {
    return "panicked: " + panic.message();
  }
  return "";
}

}  // namespace tessary::vectors
