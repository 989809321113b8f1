#include "engine/stream_request.h"

#include <climits>
#include <string>
#include <string_view>

#include "module/arguments.h"

namespace tessary::engine {
namespace {

using module::PendingError;

PendingError value_error(std::string message) {
  return PendingError(PyExc_ValueError, std::move(message));
}

std::variant<TextFormat, PendingError> read_format(PyObject* value) {
  auto name = module::to_utf8(value, "format");
  if (auto* error = std::get_if<PendingError>(&name)) return std::move(*error);
  const std::string_view text = std::get<std::string_view>(name);
  if (text == "json") return TextFormat::JsonArray;
  if (text == "jsonl") return TextFormat::JsonLines;
  return value_error("unknown format '" + std::string(text) + "': the accepted ones are json, jsonl");
}

std::variant<Compression, PendingError> read_compression(PyObject* value) {
  if (value == Py_None) return Compression::None;
  auto name = module::to_utf8(value, "compression");
  if (auto* error = std::get_if<PendingError>(&name)) return std::move(*error);
  const std::string_view text = std::get<std::string_view>(name);
  if (text == "gzip") return Compression::Gzip;
  if (text == "zstd") return Compression::Zstd;
  return value_error("unknown compression '" + std::string(text) +
                     "': the accepted ones are gzip, zstd");
}

std::variant<int, PendingError> read_level(PyObject* value, Compression compression) {
  if (value == Py_None) return default_level(compression);
  if (!PyLong_Check(value)) {
    return PendingError(PyExc_TypeError, "argument 'level': expected an int");
  }
  int overflow = 0;
  const long level = PyLong_AsLongAndOverflow(value, &overflow);
  if (level == -1 && PyErr_Occurred()) return PendingError::fetch();
  if (compression == Compression::None) {
    return value_error("a compression level needs a compression (gzip or zstd)");
  }
  if (overflow != 0 || level > INT_MAX || level < INT_MIN) {  // outside every range: show it whole
    PyObject* shown = PyObject_Str(value);
    const char* text = shown != nullptr ? PyUnicode_AsUTF8(shown) : nullptr;
    if (text == nullptr) {
      Py_XDECREF(shown);
      return PendingError::fetch();
    }
    PendingError refused = value_error(level_range_error(compression, text));
    Py_DECREF(shown);
    return refused;
  }
  const int narrowed = static_cast<int>(level);
  if (auto problem = level_error(compression, narrowed)) return value_error(*problem);
  return narrowed;
}

}  // namespace

std::variant<EntitySource, PendingError> read_entity_source(PyObject* seed, PyObject* scale,
                                                            PyObject* specs_json, PyObject* start,
                                                            PyObject* stop) {
  EntitySource source;
  auto seed_value = module::to_u64(seed, "seed");
  if (auto* error = std::get_if<PendingError>(&seed_value)) return std::move(*error);
  source.seed = std::get<std::uint64_t>(seed_value);
  auto scale_value = module::to_u64(scale, "scale");
  if (auto* error = std::get_if<PendingError>(&scale_value)) return std::move(*error);
  const std::uint64_t count = std::get<std::uint64_t>(scale_value);
  auto text = module::to_utf8(specs_json, "specs_json");
  if (auto* error = std::get_if<PendingError>(&text)) return std::move(*error);
  auto start_value = module::to_u64(start, "start");
  if (auto* error = std::get_if<PendingError>(&start_value)) return std::move(*error);
  source.start = std::get<std::uint64_t>(start_value);
  source.stop = count;
  if (stop != Py_None) {
    auto stop_value = module::to_u64(stop, "stop");
    if (auto* error = std::get_if<PendingError>(&stop_value)) return std::move(*error);
    source.stop = std::get<std::uint64_t>(stop_value);
  }
  if (!(source.start <= source.stop && source.stop <= count)) {
    return value_error("the range must satisfy 0 <= start <= stop <= scale, not start=" +
                       std::to_string(source.start) + ", stop=" + std::to_string(source.stop) +
                       ", scale=" + std::to_string(count));
  }
  auto prepared = prepare_specs(std::get<std::string_view>(text));
  if (ReadError* error = std::get_if<ReadError>(&prepared)) return value_error(error->display());
  source.specs = std::move(std::get<std::unique_ptr<const PreparedSpecs>>(prepared));
  return source;
}

std::variant<StreamRequest, PendingError> read_stream_request(PyObject* const* bound) {
  StreamRequest request;
  auto format = read_format(bound[3]);
  if (auto* error = std::get_if<PendingError>(&format)) return std::move(*error);
  request.options.format = std::get<TextFormat>(format);
  auto compression = read_compression(bound[4]);
  if (auto* error = std::get_if<PendingError>(&compression)) return std::move(*error);
  request.options.compression = std::get<Compression>(compression);
  auto level = read_level(bound[5], request.options.compression);
  if (auto* error = std::get_if<PendingError>(&level)) return std::move(*error);
  request.options.level = std::get<int>(level);

  auto source = read_entity_source(bound[0], bound[1], bound[2], bound[6], bound[7]);
  if (auto* error = std::get_if<PendingError>(&source)) return std::move(*error);
  EntitySource& read = std::get<EntitySource>(source);
  request.seed = read.seed;
  request.specs = std::move(read.specs);
  request.options.start = read.start;
  request.options.stop = read.stop;
  return request;
}

}  // namespace tessary::engine
