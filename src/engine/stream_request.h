// The arguments that every streaming entry point shares, converted and checked at the call.
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <variant>

#include "binding/pending_error.h"
#include "pipeline/prepared_specs.h"
#include "pipeline/text_stream.h"

namespace tessary::engine {

// What every way out shares: the seed, the specs read once, and the ids [start, stop).
struct EntitySource {
  std::uint64_t seed = 0;
  std::unique_ptr<const PreparedSpecs> specs;
  std::uint64_t start = 0;
  std::uint64_t stop = 0;
};

// From the arguments seed, scale, specs_json, start and stop (None: scale). Reads the specs: their
// error is a ValueError with the reader's text, like generate_entities'. The range must satisfy
// 0 <= start <= stop <= scale (ValueError). Requires the GIL.
std::variant<EntitySource, binding::PendingError> read_entity_source(PyObject* seed, PyObject* scale,
                                                                    PyObject* specs_json,
                                                                    PyObject* start,
                                                                    PyObject* stop);

struct StreamRequest {
  std::uint64_t seed = 0;
  std::unique_ptr<const PreparedSpecs> specs;
  TextStreamOptions options;
};

// From the bound arguments seed, scale, specs_json, format ("json" or "jsonl"), compression
// (None, "gzip" or "zstd"), level (None or an int), start and stop, as read_entity_source reads
// them. Requires the GIL.
std::variant<StreamRequest, binding::PendingError> read_stream_request(PyObject* const* bound);

}  // namespace tessary::engine
