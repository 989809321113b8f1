// The one place where an output's format, compression and level are decided: from the caller's
// arguments, else from a file name's suffixes, else the defaults; and the rules that tie them
// together (which formats a caller accepts, which compressions a format takes, the levels).
//
// Every way out asks here: the Table's text streams and writes, `write`, `iter_text`, the Dask
// writer and the command line (through output_options() of the module).
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "binding/pending_error.h"
#include "compression/frame_compressor.h"
#include "pipeline/block_text.h"

namespace tessary::engine {

enum class OutputFormat : std::uint8_t { Json, JsonLines, Parquet };

// "json", "jsonl", "parquet".
const char* format_name(OutputFormat format);
// "gzip", "zstd"; nullptr for None.
const char* compression_name(Compression compression);

// The text format of a JSON output. Requires: format is not Parquet.
inline TextFormat text_format(OutputFormat format) {
  return format == OutputFormat::JsonLines ? TextFormat::JsonLines : TextFormat::JsonArray;
}

struct OutputChoice {
  OutputFormat format = OutputFormat::Json;
  Compression compression = Compression::None;
  int level = 0;  // the compression's level; 0 when nothing is compressed
};

// What a caller asks for, as Python objects (borrowed; None or null where not given): a file name
// (str, or None for a file object or a stream), a format name, a compression name and a level.
struct OutputArguments {
  PyObject* name = nullptr;
  PyObject* format = nullptr;
  PyObject* compression = nullptr;
  PyObject* level = nullptr;
  std::optional<OutputFormat> default_format;  // when neither `format` nor the name gives one
  bool text_only = false;  // Parquet is not accepted (an iterator of text chunks)
};

// The format, compression and level of an output: ValueError for an unknown or missing format, an
// unknown compression, a compression or level on Parquet, a level without a compression, a level
// the compression does not accept; TypeError for arguments of the wrong type. Requires the GIL.
[[nodiscard]]
std::variant<OutputChoice, binding::PendingError> resolve_output(const OutputArguments& arguments);

// The file name suffix that says the choice's format and compression: ".jsonl.gz", ".parquet".
std::string output_suffix(const OutputChoice& choice);

// output_suffix(format, compression) -> str
extern PyMethodDef output_suffix_def;

// output_options(name, format, compression, level, default_format=None, text_only=False)
//   -> (format, compression, level)
extern PyMethodDef output_options_def;

}  // namespace tessary::engine
