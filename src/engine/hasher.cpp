#include "engine/hasher.h"

#include <memory>
#include <string>
#include <string_view>

#include "binding/gil.h"
#include "binding/arguments.h"
#include "binding/run_entry.h"

namespace tessary::engine {
namespace {

using binding::CallResult;
using binding::PendingError;
using binding::GilRelease;

// Below this, releasing and taking back the GIL costs about as much as the hashing.
constexpr Py_ssize_t RELEASE_GIL_BYTES = 64 * 1024;

struct Hasher {
  PyObject_HEAD
  PyMutex mutex;           // held by the call using `digest`, even while it releases the GIL
  Digest* digest;          // owned; null once finished
  PyObject* hex;           // the finished digest's text; null until then
  DigestAlgorithm algorithm;
};

Hasher* as_hasher(PyObject* object) {
  return reinterpret_cast<Hasher*>(object);
}

// Holds the object's mutex for a scope. Waiting for it detaches the thread from the interpreter,
// so a thread holding it and waiting for the GIL cannot deadlock with this one.
class Turn {
 public:
  explicit Turn(Hasher& hasher) : mutex_(hasher.mutex) { PyMutex_Lock(&mutex_); }
  ~Turn() { PyMutex_Unlock(&mutex_); }
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;

 private:
  PyMutex& mutex_;
};

PyObject* hasher_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return binding::run_entry([&]() -> CallResult {
    static const char* KEYWORDS[] = {"algorithm", nullptr};
    PyObject* name = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:Hasher", const_cast<char**>(KEYWORDS),
                                     &name)) {
      return PendingError::fetch();
    }
    auto algorithm = read_digest_algorithm(name, "algorithm");
    if (auto* error = std::get_if<PendingError>(&algorithm)) return std::move(*error);
    std::unique_ptr<Digest> digest = make_digest(std::get<DigestAlgorithm>(algorithm));
    PyObject* object = type->tp_alloc(type, 0);
    if (object == nullptr) return PendingError::fetch();
    Hasher* self = as_hasher(object);
    self->mutex = PyMutex{};
    self->digest = digest.release();
    self->hex = nullptr;
    self->algorithm = std::get<DigestAlgorithm>(algorithm);
    return object;
  });
}

void hasher_dealloc(PyObject* object) {
  Hasher* self = as_hasher(object);
  PyTypeObject* type = Py_TYPE(object);
  delete self->digest;
  Py_XDECREF(self->hex);
  type->tp_free(object);
  Py_DECREF(type);
}

PyObject* hasher_update(PyObject* object, PyObject* data) {
  return binding::run_entry([&]() -> CallResult {
    Py_buffer view;
    if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) < 0) return PendingError::fetch();
    std::unique_ptr<Py_buffer, void (*)(Py_buffer*)> release(&view, PyBuffer_Release);
    Hasher* self = as_hasher(object);
    Turn turn(*self);
    if (self->digest == nullptr) {
      return PendingError(PyExc_ValueError, "the digest was already taken with hexdigest()");
    }
    const std::string_view bytes(static_cast<const char*>(view.buf),
                                 static_cast<std::size_t>(view.len));
    if (view.len >= RELEASE_GIL_BYTES) {
      GilRelease gil;
      self->digest->update(bytes);
    } else {
      self->digest->update(bytes);
    }
    return Py_NewRef(Py_None);
  });
}

PyObject* hasher_hexdigest(PyObject* object, PyObject*) {
  return binding::run_entry([&]() -> CallResult {
    Hasher* self = as_hasher(object);
    Turn turn(*self);
    if (self->hex == nullptr) {
      const std::string hex = to_hex(self->digest->finish());
      self->hex = PyUnicode_FromStringAndSize(hex.data(), static_cast<Py_ssize_t>(hex.size()));
      if (self->hex == nullptr) return PendingError::fetch();
      delete self->digest;
      self->digest = nullptr;
    }
    return Py_NewRef(self->hex);
  });
}

PyObject* hasher_name(PyObject* object, void*) {
  const std::string_view name = digest_name(as_hasher(object)->algorithm);
  return PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
}

PyMethodDef HASHER_METHODS[] = {
    {"update", hasher_update, METH_O,
     "update(data)\n--\n\nFeed a bytes-like object to the digest."},
    {"hexdigest", hasher_hexdigest, METH_NOARGS,
     "hexdigest()\n--\n\nThe digest of everything fed, in lower-case hex. No update afterwards."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef HASHER_GETSET[] = {
    {"name", hasher_name, nullptr, "The algorithm: 'sha256' or 'xxh128'.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot HASHER_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("Hasher(algorithm)\n--\n\n"
                                  "A SHA-256 ('sha256') or XXH3-128 ('xxh128') digest of the "
                                  "bytes fed to update().")},
    {Py_tp_new, reinterpret_cast<void*>(hasher_new)},
    {Py_tp_methods, HASHER_METHODS},
    {Py_tp_getset, HASHER_GETSET},
    {Py_tp_dealloc, reinterpret_cast<void*>(hasher_dealloc)},
    {0, nullptr},
};

PyType_Spec HASHER_SPEC = {
    "tessary._engine.Hasher",
    sizeof(Hasher),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    HASHER_SLOTS,
};

}  // namespace

[[nodiscard]] std::variant<DigestAlgorithm, PendingError> read_digest_algorithm(PyObject* value,
                                                                  const char* param) {
  auto name = binding::to_utf8(value, param);
  if (auto* error = std::get_if<PendingError>(&name)) return std::move(*error);
  const std::string_view text = std::get<std::string_view>(name);
  if (auto algorithm = digest_named(text)) return *algorithm;
  return PendingError(PyExc_ValueError, "unknown digest '" + std::string(text) +
                                            "': the accepted ones are sha256, xxh128");
}

PyObject* make_hasher_type(PyObject* module) {
  return PyType_FromModuleAndSpec(module, &HASHER_SPEC, nullptr);
}

}  // namespace tessary::engine
