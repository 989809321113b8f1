// The entities of an id range as Arrow record batches: a stream object for the Arrow PyCapsule
// interface, and the capsules themselves.
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <variant>

#include "binding/run_entry.h"
#include "nanoarrow/hpp/unique.hpp"
#include "pipeline/batch_stream.h"
#include "pipeline/prepared_specs.h"

namespace tessary::engine {

// The type of the batches object, made once per module (a heap type). Null with an exception set
// on failure.
PyObject* make_batches_type(PyObject* module);

// A batch stream and its schema as Arrow exports it.
struct PlannedBatches {
  std::unique_ptr<BatchStream> stream;
  nanoarrow::UniqueSchema schema;
};

// Plans the columns of the specs and a stream of [start, stop) in batches of `batch_rows` rows
// (None or null: the default). ValueError for a spec named "id", a name holding U+0000, or
// batch_rows outside 1 to the schema's maximum. Builds nothing. Requires the GIL and
// start <= stop.
[[nodiscard]] std::variant<PlannedBatches, binding::PendingError> plan_batches(
    std::shared_ptr<const PreparedSpecs> specs, std::uint64_t seed, std::uint64_t start,
    std::uint64_t stop, PyObject* batch_rows);

// The batches object: __arrow_c_schema__() any number of times, __arrow_c_stream__() once (a
// second call raises ValueError); close() (or leaving a with block) cancels the batches in flight.
binding::CallResult new_batches(PyObject* module, PlannedBatches planned);

// A new "arrow_schema" capsule holding a copy of `schema`.
binding::CallResult schema_capsule(const ArrowSchema& schema);

// A new "arrow_array_stream" capsule that owns the stream; releasing it cancels the batches in
// flight and waits for them.
binding::CallResult stream_capsule(std::unique_ptr<BatchStream> stream);

}  // namespace tessary::engine
