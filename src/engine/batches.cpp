#include "engine/batches.h"

#include <memory>
#include <new>

#include "columns/column_schema.h"
#include "engine/engine_state.h"
#include "engine/stream_request.h"
#include "binding/arguments.h"
#include "binding/run_entry.h"
#include "nanoarrow/hpp/unique.hpp"
#include "pipeline/arrow_stream.h"
#include "pipeline/batch_stream.h"
#include "pool/worker_pool.h"

namespace tessary::engine {
namespace {

using binding::CallResult;
using binding::PendingError;

struct Batches {
  PyObject_HEAD
  BatchStream* stream;  // owned until __arrow_c_stream__ hands it over; null afterwards
  ArrowSchema schema;   // owned; exported at the call, copied for every __arrow_c_schema__
};

void release_schema_capsule(PyObject* capsule) {
  auto* schema = static_cast<ArrowSchema*>(PyCapsule_GetPointer(capsule, "arrow_schema"));
  if (schema == nullptr) return;
  if (schema->release != nullptr) schema->release(schema);
  delete schema;
}

void release_stream_capsule(PyObject* capsule) {
  auto* stream =
      static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule, "arrow_array_stream"));
  if (stream == nullptr) return;
  if (stream->release != nullptr) {
    // Waits for the batches in flight: let other threads run meanwhile.
    Py_BEGIN_ALLOW_THREADS
    stream->release(stream);
    Py_END_ALLOW_THREADS
  }
  delete stream;
}

CallResult schema_capsule(Batches* self) {
  auto copy = std::make_unique<ArrowSchema>();
  copy->release = nullptr;
  if (ArrowSchemaDeepCopy(&self->schema, copy.get()) != NANOARROW_OK) throw std::bad_alloc();
  PyObject* capsule = PyCapsule_New(copy.get(), "arrow_schema", release_schema_capsule);
  if (capsule == nullptr) {
    copy->release(copy.get());
    return PendingError::fetch();
  }
  copy.release();
  return capsule;
}

PyObject* batches_schema(PyObject* object, PyObject*) {
  return binding::run_entry([&] { return schema_capsule(reinterpret_cast<Batches*>(object)); });
}

CallResult stream_capsule(Batches* self) {
  if (self->stream == nullptr) {
    return PendingError(PyExc_ValueError,
                        "the batches have been taken already: a stream can be consumed once; "
                        "call generate_batches() again for another");
  }
  auto exported = std::make_unique<ArrowArrayStream>();
  exported->release = nullptr;
  PyObject* capsule = PyCapsule_New(exported.get(), "arrow_array_stream", release_stream_capsule);
  if (capsule == nullptr) return PendingError::fetch();
  export_batch_stream(std::unique_ptr<BatchStream>(self->stream), exported.get());
  self->stream = nullptr;
  exported.release();
  return capsule;
}

PyObject* batches_stream(PyObject* object, PyObject* const* args, Py_ssize_t nargsf,
                         PyObject* kwnames) {
  static constexpr const char* PARAMS[] = {"requested_schema"};
  static constexpr binding::Signature SIGNATURE{"__arrow_c_stream__", PARAMS, 0};
  return binding::run_entry([&]() -> CallResult {
    PyObject* bound[1];
    if (auto error = binding::bind_arguments(SIGNATURE, args, nargsf, kwnames, bound)) {
      return std::move(*error);
    }
    // A requested schema other than our own cannot be produced; consumers then cast themselves.
    return stream_capsule(reinterpret_cast<Batches*>(object));
  });
}

void batches_dealloc(PyObject* object) {
  auto* self = reinterpret_cast<Batches*>(object);
  PyTypeObject* type = Py_TYPE(object);
  BatchStream* stream = self->stream;
  self->stream = nullptr;
  if (stream != nullptr) {
    Py_BEGIN_ALLOW_THREADS
    delete stream;
    Py_END_ALLOW_THREADS
  }
  if (self->schema.release != nullptr) self->schema.release(&self->schema);
  type->tp_free(object);
  Py_DECREF(type);
}

PyMethodDef BATCHES_METHODS[] = {
    {"__arrow_c_schema__", batches_schema, METH_NOARGS,
     "__arrow_c_schema__()\n--\n\nThe schema of the batches, as an Arrow PyCapsule."},
    {"__arrow_c_stream__",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(batches_stream)),
     METH_FASTCALL | METH_KEYWORDS,
     "__arrow_c_stream__(requested_schema=None)\n--\n\n"
     "The batches as an Arrow C stream in a PyCapsule; a stream can be taken once."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot BATCHES_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>(
                    "The entities of an id range as Arrow record batches, built as they are "
                    "consumed (Arrow PyCapsule interface).")},
    {Py_tp_methods, BATCHES_METHODS},
    {Py_tp_dealloc, reinterpret_cast<void*>(batches_dealloc)},
    {0, nullptr},
};

PyType_Spec BATCHES_SPEC = {
    "tessary._engine.Batches",
    sizeof(Batches),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    BATCHES_SLOTS,
};

constexpr const char* BATCH_PARAMS[] = {"seed", "scale", "specs_json",
                                        "start", "stop", "batch_rows"};
constexpr binding::Signature BATCH_SIGNATURE{"generate_batches", BATCH_PARAMS, 6};

std::variant<std::uint64_t, PendingError> optional_u64(PyObject* value, const char* name,
                                                       std::uint64_t otherwise) {
  if (value == Py_None) return otherwise;
  return binding::to_u64(value, name);
}

CallResult generate_batches_impl(PyObject* module, PyObject* const* bound) {
  auto source = read_entity_source(bound[0], bound[1], bound[2], bound[3], bound[4]);
  if (auto* error = std::get_if<PendingError>(&source)) return std::move(*error);
  EntitySource& read = std::get<EntitySource>(source);
  auto rows = optional_u64(bound[5], "batch_rows", 0);
  if (auto* error = std::get_if<PendingError>(&rows)) return std::move(*error);
  std::unique_ptr<const PreparedSpecs> specs = std::move(read.specs);
  auto planned = plan_columns(specs->specs, specs->layout);
  if (auto* error = std::get_if<ColumnSchemaError>(&planned)) {
    return PendingError(PyExc_ValueError, error->message);
  }
  ColumnSchema& schema = std::get<ColumnSchema>(planned);
  std::uint64_t batch_rows = std::get<std::uint64_t>(rows);
  if (bound[5] != Py_None && (batch_rows == 0 || batch_rows > max_batch_rows(schema))) {
    return PendingError(PyExc_ValueError, "batch_rows must be from 1 to " +
                                              std::to_string(max_batch_rows(schema)) + ", not " +
                                              std::to_string(batch_rows));
  }
  if (batch_rows == 0) batch_rows = default_batch_rows(specs->specs, schema);

  nanoarrow::UniqueSchema exported_schema;
  export_arrow_schema(schema, exported_schema.get());
  auto stream = std::make_unique<BatchStream>(std::move(specs), std::move(schema), read.seed,
                                              read.start, read.stop, batch_rows, global_pool());

  auto* type = reinterpret_cast<PyTypeObject*>(engine_state(module).batches_type);
  auto* self = reinterpret_cast<Batches*>(type->tp_alloc(type, 0));
  if (self == nullptr) return PendingError::fetch();
  self->stream = stream.release();
  exported_schema.move(&self->schema);
  return reinterpret_cast<PyObject*>(self);
}

PyObject* generate_batches_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                                 PyObject* kwnames) {
  return binding::run_entry([&]() -> CallResult {
    PyObject* bound[6];
    if (auto error = binding::bind_arguments(BATCH_SIGNATURE, args, nargsf, kwnames, bound)) {
      return std::move(*error);
    }
    return generate_batches_impl(module, bound);
  });
}

}  // namespace

PyObject* make_batches_type(PyObject* module) {
  return PyType_FromModuleAndSpec(module, &BATCHES_SPEC, nullptr);
}

PyMethodDef generate_batches_def = {
    "generate_batches",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(generate_batches_entry)),
    METH_FASTCALL | METH_KEYWORDS,
    "generate_batches(seed, scale, specs_json, start, stop, batch_rows)\n--\n\n"
    "The entities of [start, stop) as Arrow record batches (an Arrow PyCapsule stream object)."};

}  // namespace tessary::engine
