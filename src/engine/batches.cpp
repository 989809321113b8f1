#include "engine/batches.h"

#include <memory>
#include <new>

#include "columns/column_schema.h"
#include "engine/engine_state.h"
#include "binding/arguments.h"
#include "binding/gil.h"
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

}  // namespace

CallResult schema_capsule(const ArrowSchema& schema) {
  auto copy = std::make_unique<ArrowSchema>();
  copy->release = nullptr;
  if (ArrowSchemaDeepCopy(&schema, copy.get()) != NANOARROW_OK) throw std::bad_alloc();
  PyObject* capsule = PyCapsule_New(copy.get(), "arrow_schema", release_schema_capsule);
  if (capsule == nullptr) {
    copy->release(copy.get());
    return PendingError::fetch();
  }
  copy.release();
  return capsule;
}

CallResult stream_capsule(std::unique_ptr<BatchStream> stream) {
  auto exported = std::make_unique<ArrowArrayStream>();
  exported->release = nullptr;
  PyObject* capsule = PyCapsule_New(exported.get(), "arrow_array_stream", release_stream_capsule);
  if (capsule == nullptr) return PendingError::fetch();
  export_batch_stream(std::move(stream), exported.get());
  exported.release();
  return capsule;
}

namespace {

PyObject* batches_schema(PyObject* object, PyObject*) {
  return binding::run_entry(
      [&] { return schema_capsule(reinterpret_cast<Batches*>(object)->schema); });
}

CallResult take_stream_capsule(Batches* self) {
  if (self->stream == nullptr) {
    return PendingError(PyExc_ValueError,
                        "the batches have been taken already: a stream can be consumed once; "
                        "call generate_batches() again for another");
  }
  std::unique_ptr<BatchStream> stream(self->stream);
  self->stream = nullptr;
  return stream_capsule(std::move(stream));
}

void end_stream(Batches* self) {
  binding::cancel_and_delete(self->stream);
}

PyObject* batches_close(PyObject* object, PyObject*) {
  end_stream(reinterpret_cast<Batches*>(object));
  Py_RETURN_NONE;
}

PyObject* batches_enter(PyObject* object, PyObject*) {
  return Py_NewRef(object);
}

PyObject* batches_exit(PyObject* object, PyObject*) {
  end_stream(reinterpret_cast<Batches*>(object));
  Py_RETURN_FALSE;
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
    return take_stream_capsule(reinterpret_cast<Batches*>(object));
  });
}

void batches_dealloc(PyObject* object) {
  auto* self = reinterpret_cast<Batches*>(object);
  PyTypeObject* type = Py_TYPE(object);
  PyObject_GC_UnTrack(object);
  end_stream(self);
  if (self->schema.release != nullptr) self->schema.release(&self->schema);
  type->tp_free(object);
  Py_DECREF(type);
}

int batches_traverse(PyObject* object, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(object));
  return 0;
}

PyMethodDef BATCHES_METHODS[] = {
    {"__arrow_c_schema__", batches_schema, METH_NOARGS,
     "__arrow_c_schema__()\n--\n\nThe schema of the batches, as an Arrow PyCapsule."},
    {"__arrow_c_stream__",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(batches_stream)),
     METH_FASTCALL | METH_KEYWORDS,
     "__arrow_c_stream__(requested_schema=None)\n--\n\n"
     "The batches as an Arrow C stream in a PyCapsule; a stream can be taken once."},
    {"close", batches_close, METH_NOARGS,
     "Stop: cancel the batches in flight and free everything."},
    {"__enter__", batches_enter, METH_NOARGS, nullptr},
    {"__exit__", batches_exit, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot BATCHES_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>(
                    "The entities of an id range as Arrow record batches, built as they are "
                    "consumed (Arrow PyCapsule interface).")},
    {Py_tp_methods, BATCHES_METHODS},
    {Py_tp_dealloc, reinterpret_cast<void*>(batches_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(batches_traverse)},
    {0, nullptr},
};

PyType_Spec BATCHES_SPEC = {
    "tessary._engine.Batches",
    sizeof(Batches),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION |
        Py_TPFLAGS_IMMUTABLETYPE,
    BATCHES_SLOTS,
};

}  // namespace

PyObject* make_batches_type(PyObject* module) {
  return PyType_FromModuleAndSpec(module, &BATCHES_SPEC, nullptr);
}

[[nodiscard]]
std::variant<PlannedBatches, PendingError> plan_batches(std::shared_ptr<const PreparedSpecs> specs,
                                                        std::uint64_t seed, std::uint64_t start,
                                                        std::uint64_t stop, PyObject* batch_rows) {
  auto planned = plan_columns(specs->specs, specs->layout);
  if (auto* error = std::get_if<ColumnSchemaError>(&planned)) {
    return PendingError(PyExc_ValueError, error->message);
  }
  ColumnSchema& schema = std::get<ColumnSchema>(planned);
  std::uint64_t rows = 0;
  if (batch_rows != nullptr && batch_rows != Py_None) {
    if (auto error = binding::take(binding::to_u64(batch_rows, "batch_rows"), rows)) {
      return std::move(*error);
    }
    if (rows == 0 || rows > max_batch_rows(schema)) {
      return PendingError(PyExc_ValueError, "batch_rows must be from 1 to " +
                                                std::to_string(max_batch_rows(schema)) +
                                                ", not " + std::to_string(rows));
    }
  } else {
    rows = default_batch_rows(specs->specs, schema);
  }
  PlannedBatches batches;
  export_arrow_schema(schema, batches.schema.get());
  batches.stream = std::make_unique<BatchStream>(std::move(specs), std::move(schema), seed, start,
                                                 stop, rows, global_pool());
  return batches;
}

CallResult new_batches(PyObject* module, PlannedBatches planned) {
  auto* type = reinterpret_cast<PyTypeObject*>(engine_state(module).batches_type);
  auto* self = PyObject_GC_New(Batches, type);
  if (self == nullptr) return PendingError::fetch();
  self->stream = planned.stream.release();
  planned.schema.move(&self->schema);
  PyObject_GC_Track(reinterpret_cast<PyObject*>(self));
  return reinterpret_cast<PyObject*>(self);
}

}  // namespace tessary::engine
