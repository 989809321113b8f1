#include "stream_vectors.h"

#include <fstream>
#include <limits>
#include <optional>
#include <sstream>

#include "base/panic.h"
#include "digest/sha256.h"
#include "sampling/build_entity.h"
#include "pipeline/generate.h"
#include "output/json_writer.h"
#include "pipeline/prepared_specs.h"
#include "pipeline/text_stream.h"
#include "pool/worker_pool.h"
#include "records/entity_record.h"
#include "specs/json_reader.h"

namespace tessary::vectors {
namespace {

using Problem = std::optional<std::string>;

const JsonValue* member(const JsonObject& object, std::string_view key) {
  for (const JsonMember& m : object) {
    if (m.key == key) return &m.value;
  }
  return nullptr;
}

// The key in double quotes, built by appends: GCC 12 flags `"\"" + std::string(key)` with a false
// -Wrestrict when it inlines it at -O3.
std::string quoted(std::string_view key) {
  std::string text(1, '"');
  text.append(key);
  text.push_back('"');
  return text;
}

Problem take_u64(const JsonObject& object, std::string_view key, std::uint64_t& out) {
  const JsonValue* value = member(object, key);
  const JsonNumber* number = value ? std::get_if<JsonNumber>(&value->data) : nullptr;
  if (number == nullptr || number->kind != JsonNumber::Kind::Unsigned) {
    return quoted(key) + " must be an integer from 0 to 2^64 - 1";
  }
  out = number->u;
  return std::nullopt;
}

Problem take_string(const JsonObject& object, std::string_view key, std::string& out) {
  const JsonValue* value = member(object, key);
  const std::string* text = value ? std::get_if<std::string>(&value->data) : nullptr;
  if (text == nullptr) return quoted(key) + " must be a string";
  out = *text;
  return std::nullopt;
}

Problem take_strings(const JsonObject& object, std::string_view key,
                     std::vector<std::string>& out) {
  const JsonValue* value = member(object, key);
  const JsonArray* items = value ? std::get_if<JsonArray>(&value->data) : nullptr;
  if (items == nullptr) return quoted(key) + " must be an array of strings";
  for (const JsonValue& item : *items) {
    const std::string* text = std::get_if<std::string>(&item.data);
    if (text == nullptr) return quoted(key) + " must be an array of strings";
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
  if (member(*object, "language") != nullptr) {
    std::string language;
    if ((problem = take_string(*object, "language", language))) return problem;
    if (language != "package") return std::string("\"language\" must be \"package\"");
    c.package_language = true;
  }
  if (c.stop < c.start) return "\"stop\" is below \"start\"";
  if (c.first.size() > c.stop - c.start) return "\"first\" lists more entities than the range";
  return std::nullopt;
}

// The texts of entities start .. start + count - 1, each built and written on its own.
std::vector<std::string> entity_texts(std::uint64_t seed, std::uint64_t start, std::size_t count,
                                      const PreparedSpecs& prepared) {
  EntityRecord record = make_entity_record(prepared.layout);
  std::vector<std::string> texts;
  for (std::size_t k = 0; k < count; ++k) {
    build_entity(seed, start + k, prepared.specs, record);
    OutputBuffer entity;
    write_entity(record, prepared.keys, entity);
    texts.emplace_back(entity.view());
  }
  return texts;
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
  digest = to_hex(sha.finish());
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
  auto prepared = prepare_specs(c.specs);
  if (const ReadError* error = std::get_if<ReadError>(&prepared)) return error->display();
  auto& specs = std::get<std::shared_ptr<const PreparedSpecs>>(prepared);
  RangeText result;
  result.first = entity_texts(c.seed, c.start, c.first.size(), *specs);
  TextStream stream(std::move(specs), c.seed,
                    {TextFormat::JsonArray, Compression::None, 0, c.start, c.stop}, global_pool());
  Sha256 sha;
  for (TextStream::Chunk chunk = stream.next(); chunk.status != OrderedWindow::Status::End;
       chunk = stream.next()) {
    if (chunk.status != OrderedWindow::Status::Ready) return std::string("the stream stopped");
    sha.update(chunk.text);
  }
  result.sha256 = to_hex(sha.finish());
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
        return "entity " + std::to_string(c.start + i) + " is " + range.first[i] + ", expected " +
               c.first[i];
      }
    }
    if (range.sha256 != c.sha256) {
      return "the text's SHA-256 is " + range.sha256 + ", expected " + c.sha256;
    }
    if (c.start == 0 && !c.package_language) {
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
