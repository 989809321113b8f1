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
  const int narrowed = overflow != 0 || level > INT_MAX || level < INT_MIN
                           ? (overflow < 0 || level < 0 ? INT_MIN : INT_MAX)
                           : static_cast<int>(level);
  if (auto problem = level_error(compression, narrowed)) return value_error(*problem);
  return narrowed;
}

}  // namespace

std::variant<StreamRequest, PendingError> read_stream_request(PyObject* const* bound) {
  StreamRequest request;
  auto seed = module::to_u64(bound[0], "seed");
  if (auto* error = std::get_if<PendingError>(&seed)) return std::move(*error);
  request.seed = std::get<std::uint64_t>(seed);
  auto scale = module::to_u64(bound[1], "scale");
  if (auto* error = std::get_if<PendingError>(&scale)) return std::move(*error);
  auto specs_json = module::to_utf8(bound[2], "specs_json");
  if (auto* error = std::get_if<PendingError>(&specs_json)) return std::move(*error);

  auto format = read_format(bound[3]);
  if (auto* error = std::get_if<PendingError>(&format)) return std::move(*error);
  request.options.format = std::get<TextFormat>(format);
  auto compression = read_compression(bound[4]);
  if (auto* error = std::get_if<PendingError>(&compression)) return std::move(*error);
  request.options.compression = std::get<Compression>(compression);
  auto level = read_level(bound[5], request.options.compression);
  if (auto* error = std::get_if<PendingError>(&level)) return std::move(*error);
  request.options.level = std::get<int>(level);

  auto start = module::to_u64(bound[6], "start");
  if (auto* error = std::get_if<PendingError>(&start)) return std::move(*error);
  request.options.start = std::get<std::uint64_t>(start);
  request.options.stop = std::get<std::uint64_t>(scale);
  if (bound[7] != Py_None) {
    auto stop = module::to_u64(bound[7], "stop");
    if (auto* error = std::get_if<PendingError>(&stop)) return std::move(*error);
    request.options.stop = std::get<std::uint64_t>(stop);
  }
  if (!(request.options.start <= request.options.stop &&
        request.options.stop <= std::get<std::uint64_t>(scale))) {
    return value_error("the range must satisfy 0 <= start <= stop <= scale, not start=" +
                       std::to_string(request.options.start) +
                       ", stop=" + std::to_string(request.options.stop) +
                       ", scale=" + std::to_string(std::get<std::uint64_t>(scale)));
  }

  auto prepared = prepare_specs(std::get<std::string_view>(specs_json));
  if (ReadError* error = std::get_if<ReadError>(&prepared)) {
    return value_error(error->display());
  }
  request.specs = std::move(std::get<std::unique_ptr<const PreparedSpecs>>(prepared));
  return request;
}

}  // namespace tessary::engine
