#include "engine/text_chunks.h"

#include <memory>

#include "engine/caller_duties.h"
#include "engine/engine_state.h"
#include "binding/gil.h"
#include "binding/arguments.h"
#include "binding/run_entry.h"
#include "pool/worker_pool.h"

namespace tessary::engine {
namespace {

using binding::CallResult;
using binding::PendingError;
using binding::GilHold;
using binding::GilRelease;

struct TextChunks {
  PyObject_HEAD
  TextStream* stream;  // owned; null once the iteration has ended or was closed
  bool busy;           // a next() is running (it releases the GIL)
};

void end_stream(TextChunks* self) {
  binding::cancel_and_delete(self->stream);
}

CallResult next_chunk(TextChunks* self) {
  for (;;) {
    TextStream::Chunk chunk;
    {
      GilRelease gil;
      CallerDuties duties(gil, nullptr, 0);
      chunk = self->stream->next(duties.control());
    }
    if (chunk.status == OrderedWindow::Status::End) return nullptr;  // StopIteration
    if (chunk.status == OrderedWindow::Status::Stopped) return PendingError();  // error is set
    if (chunk.bytes.empty()) continue;  // an empty range's JSON Lines
    PyObject* bytes =
        PyBytes_FromStringAndSize(chunk.bytes.data(), static_cast<Py_ssize_t>(chunk.bytes.size()));
    if (bytes == nullptr) return PendingError::fetch();
    return bytes;
  }
}

PyObject* text_chunks_next(PyObject* object) {
  auto* self = reinterpret_cast<TextChunks*>(object);
  if (self->stream == nullptr) return nullptr;
  if (self->busy) {
    PyErr_SetString(PyExc_ValueError, "iter_text() iterator already executing");
    return nullptr;
  }
  self->busy = true;
  PyObject* result = binding::run_entry([&] { return next_chunk(self); });
  self->busy = false;
  if (result == nullptr) end_stream(self);  // the end, or a failure: nothing more comes
  return result;
}

PyObject* text_chunks_close(PyObject* object, PyObject*) {
  auto* self = reinterpret_cast<TextChunks*>(object);
  if (self->busy) {
    PyErr_SetString(PyExc_ValueError, "iter_text() iterator already executing");
    return nullptr;
  }
  end_stream(self);
  Py_RETURN_NONE;
}

void text_chunks_dealloc(PyObject* object) {
  auto* self = reinterpret_cast<TextChunks*>(object);
  PyTypeObject* type = Py_TYPE(object);
  PyObject_GC_UnTrack(object);
  end_stream(self);
  type->tp_free(object);
  Py_DECREF(type);
}

int text_chunks_traverse(PyObject* object, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(object));
  return 0;
}

PyMethodDef TEXT_CHUNKS_METHODS[] = {
    {"close", text_chunks_close, METH_NOARGS,
     "Stop: cancel the blocks in flight and free everything."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot TEXT_CHUNKS_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("The bytes of a streamed text, block by block.")},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(text_chunks_next)},
    {Py_tp_methods, TEXT_CHUNKS_METHODS},
    {Py_tp_dealloc, reinterpret_cast<void*>(text_chunks_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(text_chunks_traverse)},
    {0, nullptr},
};

PyType_Spec TEXT_CHUNKS_SPEC = {
    "tessary._engine.TextChunks",
    sizeof(TextChunks),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION |
        Py_TPFLAGS_IMMUTABLETYPE,
    TEXT_CHUNKS_SLOTS,
};

}  // namespace

PyObject* make_text_chunks_type(PyObject* module) {
  return PyType_FromModuleAndSpec(module, &TEXT_CHUNKS_SPEC, nullptr);
}

CallResult new_text_chunks(PyObject* module, std::unique_ptr<TextStream> stream) {
  auto* type = reinterpret_cast<PyTypeObject*>(engine_state(module).text_chunks_type);
  auto* self = PyObject_GC_New(TextChunks, type);
  if (self == nullptr) return PendingError::fetch();
  self->stream = stream.release();
  self->busy = false;
  PyObject_GC_Track(reinterpret_cast<PyObject*>(self));
  return reinterpret_cast<PyObject*>(self);
}

}  // namespace tessary::engine
