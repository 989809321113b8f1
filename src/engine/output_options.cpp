#include "engine/output_options.h"

#include <array>
#include <cctype>
#include <climits>
#include <string>
#include <utility>

#include "binding/arguments.h"
#include "binding/run_entry.h"

namespace tessary::engine {
namespace {

using binding::CallResult;
using binding::PendingError;

struct Named {
  std::string_view suffix;
  OutputFormat format;
};
constexpr std::array<Named, 4> FORMAT_SUFFIXES = {{{".json", OutputFormat::Json},
                                                   {".jsonl", OutputFormat::JsonLines},
                                                   {".ndjson", OutputFormat::JsonLines},
                                                   {".parquet", OutputFormat::Parquet}}};

PendingError value_error(std::string message) {
  return PendingError(PyExc_ValueError, std::move(message));
}

// 'text', as Python shows a plain str.
std::string quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('\'');
  out.append(text);
  out.push_back('\'');
  return out;
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The last suffix of a path's last component, as os.path.splitext finds it (leading dots do not
// start one), and the path without it.
std::pair<std::string_view, std::string_view> split_suffix(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t base = slash == std::string_view::npos ? 0 : slash + 1;
  std::size_t first = base;
  while (first < path.size() && path[first] == '.') ++first;
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot < first) return {path, {}};
  return {path.substr(0, dot), path.substr(dot)};
}

std::optional<OutputFormat> format_of_suffix(std::string_view suffix) {
  const std::string key = lower(suffix);
  for (const Named& named : FORMAT_SUFFIXES) {
    if (named.suffix == key) return named.format;
  }
  return std::nullopt;
}

constexpr std::array<std::pair<std::string_view, Compression>, 2> COMPRESSION_SUFFIXES = {
    {{".gz", Compression::Gzip}, {".zst", Compression::Zstd}}};

std::optional<Compression> compression_of_suffix(std::string_view suffix) {
  const std::string key = lower(suffix);
  for (const auto& [name, compression] : COMPRESSION_SUFFIXES) {
    if (name == key) return compression;
  }
  return std::nullopt;
}

std::optional<OutputFormat> format_of_name(std::string_view name) {
  for (OutputFormat format : {OutputFormat::Json, OutputFormat::JsonLines, OutputFormat::Parquet}) {
    if (name == format_name(format)) return format;
  }
  return std::nullopt;
}

std::optional<Compression> compression_of_name(std::string_view name) {
  for (Compression compression : {Compression::Gzip, Compression::Zstd}) {
    if (name == compression_name(compression)) return compression;
  }
  return std::nullopt;
}

bool given(PyObject* argument) {
  return argument != nullptr && argument != Py_None;
}

std::string accepted_formats(bool text_only) {
  return text_only ? "json, jsonl" : "json, jsonl, parquet";
}

[[nodiscard]]
std::variant<OutputFormat, PendingError> read_format(PyObject* value, const char* param,
                                                     bool text_only) {
  std::string_view text;
  if (auto error = binding::take(binding::to_utf8(value, param), text)) return std::move(*error);
  const std::optional<OutputFormat> format = format_of_name(text);
  if (!format || (text_only && *format == OutputFormat::Parquet)) {
    return value_error("unknown format " + quoted(text) +
                       ": the accepted ones are " + accepted_formats(text_only));
  }
  return *format;
}

// The level as an int, or the error of a level the compression does not take (named by its
// decimal digits, however large).
[[nodiscard]] std::variant<int, PendingError> read_level(PyObject* value, Compression compression) {
  if (!PyLong_Check(value)) {
    return PendingError(PyExc_TypeError, "argument 'level': expected an int");
  }
  if (compression == Compression::None) {
    return value_error("a compression level needs a compression (gzip or zstd)");
  }
  int overflow = 0;
  const long long level = PyLong_AsLongLongAndOverflow(value, &overflow);
  if (level == -1 && PyErr_Occurred()) return PendingError::fetch();
  if (overflow == 0 && INT_MIN <= level && level <= INT_MAX) {
    if (auto problem = level_error(compression, static_cast<int>(level))) {
      return value_error(*problem);
    }
    return static_cast<int>(level);
  }
  PyObject* digits = PyObject_Str(value);
  if (digits == nullptr) return PendingError::fetch();
  std::string text = PyUnicode_AsUTF8(digits) != nullptr ? PyUnicode_AsUTF8(digits) : "?";
  Py_DECREF(digits);
  return value_error(level_range_text(compression) + ", not " + text);
}

}  // namespace

std::string output_suffix(const OutputChoice& choice) {
  std::string suffix;
  for (const Named& named : FORMAT_SUFFIXES) {
    if (named.format == choice.format) {
      suffix = named.suffix;
      break;
    }
  }
  for (const auto& [name, compression] : COMPRESSION_SUFFIXES) {
    if (compression == choice.compression) suffix += name;
  }
  return suffix;
}

const char* format_name(OutputFormat format) {
  switch (format) {
    case OutputFormat::Json:
      return "json";
    case OutputFormat::JsonLines:
      return "jsonl";
    case OutputFormat::Parquet:
      break;
  }
  return "parquet";
}

const char* compression_name(Compression compression) {
  switch (compression) {
    case Compression::Gzip:
      return "gzip";
    case Compression::Zstd:
      return "zstd";
    case Compression::None:
      break;
  }
  return nullptr;
}

[[nodiscard]]
std::variant<OutputChoice, PendingError> resolve_output(const OutputArguments& arguments) {
  std::optional<OutputFormat> named_format;
  std::optional<Compression> named_compression;
  std::string_view name;
  if (given(arguments.name)) {
    if (auto error = binding::take(binding::to_utf8(arguments.name, "name"), name)) {
      return std::move(*error);
    }
    auto [rest, last] = split_suffix(name);
    named_compression = compression_of_suffix(last);
    if (named_compression) last = split_suffix(rest).second;
    named_format = format_of_suffix(last);
  }

  OutputChoice choice;
  if (given(arguments.format)) {
    OutputFormat format{};
    if (auto error = binding::take(read_format(arguments.format, "format", arguments.text_only),
                                   format)) {
      return std::move(*error);
    }
    choice.format = format;
  } else if (named_format) {
    choice.format = *named_format;
  } else if (arguments.default_format) {
    choice.format = *arguments.default_format;
  } else {
    const std::string where = given(arguments.name)
                                  ? "the name " + quoted(name) + " does not say it"
                                  : std::string("a file object");
    return value_error("no format given and " + where + ": the accepted ones are " +
                       accepted_formats(arguments.text_only));
  }
  if (arguments.text_only && choice.format == OutputFormat::Parquet) {
    return value_error("unknown format 'parquet': the accepted ones are " +
                       accepted_formats(true));
  }

  if (given(arguments.compression)) {
    std::string_view text;
    if (auto error = binding::take(binding::to_utf8(arguments.compression, "compression"), text)) {
      return std::move(*error);
    }
    const std::optional<Compression> compression = compression_of_name(text);
    if (!compression) {
      return value_error("unknown compression " + quoted(text) +
                         ": the accepted ones are gzip, zstd");
    }
    choice.compression = *compression;
  } else if (named_compression) {
    choice.compression = *named_compression;
  }

  if (choice.format == OutputFormat::Parquet &&
      (choice.compression != Compression::None || given(arguments.level))) {
    return value_error("Parquet files compress their pages themselves: give no compression");
  }
  if (given(arguments.level)) {
    if (auto error = binding::take(read_level(arguments.level, choice.compression), choice.level)) {
      return std::move(*error);
    }
  } else if (choice.compression != Compression::None) {
    choice.level = default_level(choice.compression);
  }
  return choice;
}

namespace {

constexpr const char* OPTIONS_PARAMS[] = {"name",  "format",         "compression",
                                          "level", "default_format", "text_only"};
constexpr binding::Signature OPTIONS_SIGNATURE{"output_options", OPTIONS_PARAMS, 4};

CallResult output_suffix_impl(PyObject* const* bound) {
  OutputChoice choice;
  OutputArguments arguments{nullptr, bound[0], bound[1], nullptr, std::nullopt, false};
  if (auto error = binding::take(resolve_output(arguments), choice)) return std::move(*error);
  const std::string suffix = output_suffix(choice);
  return PyUnicode_FromStringAndSize(suffix.data(), static_cast<Py_ssize_t>(suffix.size()));
}

constexpr const char* SUFFIX_PARAMS[] = {"format", "compression"};
constexpr binding::Signature SUFFIX_SIGNATURE{"output_suffix", SUFFIX_PARAMS, 2};

PyObject* output_suffix_entry(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                              PyObject* kwnames) {
  return binding::run_entry([&]() -> CallResult {
    PyObject* bound[2];
    if (auto error = binding::bind_arguments(SUFFIX_SIGNATURE, args, nargsf, kwnames, bound)) {
      return std::move(*error);
    }
    return output_suffix_impl(bound);
  });
}

CallResult output_options_impl(PyObject* const* bound) {
  OutputArguments arguments{bound[0], bound[1], bound[2], bound[3], std::nullopt, false};
  if (bound[5] != nullptr) {
    const int text_only = PyObject_IsTrue(bound[5]);
    if (text_only < 0) return PendingError::fetch();
    arguments.text_only = text_only != 0;
  }
  if (given(bound[4])) {
    OutputFormat format{};
    if (auto error = binding::take(read_format(bound[4], "default_format", arguments.text_only),
                                   format)) {
      return std::move(*error);
    }
    arguments.default_format = format;
  }
  OutputChoice choice;
  if (auto error = binding::take(resolve_output(arguments), choice)) return std::move(*error);
  const char* compression = compression_name(choice.compression);
  PyObject* result =
      compression == nullptr
          ? Py_BuildValue("(sOO)", format_name(choice.format), Py_None, Py_None)
          : Py_BuildValue("(ssi)", format_name(choice.format), compression, choice.level);
  if (result == nullptr) return PendingError::fetch();
  return result;
}

PyObject* output_options_entry(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                               PyObject* kwnames) {
  return binding::run_entry([&]() -> CallResult {
    PyObject* bound[6];
    if (auto error =
            binding::bind_arguments(OPTIONS_SIGNATURE, args, nargsf, kwnames, bound)) {
      return std::move(*error);
    }
    return output_options_impl(bound);
  });
}

}  // namespace

PyMethodDef output_options_def = {
    "output_options",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(output_options_entry)),
    METH_FASTCALL | METH_KEYWORDS,
    "output_options(name, format, compression, level, default_format=None, text_only=False)\n"
    "--\n\n"
    "The (format, compression, level) of an output: the arguments, else the name's suffixes,\n"
    "else default_format; compression and level are None when nothing is compressed."};

PyMethodDef output_suffix_def = {
    "output_suffix",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(output_suffix_entry)),
    METH_FASTCALL | METH_KEYWORDS,
    "output_suffix(format, compression)\n--\n\n"
    "The file name suffix of an output: '.jsonl.gz', '.parquet', ..."};

}  // namespace tessary::engine
