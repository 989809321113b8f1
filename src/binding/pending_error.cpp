#include "binding/pending_error.h"

#include "binding/panic_exception.h"

namespace tessary::binding {

PendingError& PendingError::operator=(PendingError&& other) noexcept {
  if (this != &other) {
    Py_XDECREF(fetched);
    type = other.type;
    message = std::move(other.message);
    fetched = other.fetched;
    other.fetched = nullptr;
  }
  return *this;
}

PendingError PendingError::fetch() {
  PendingError error;
  error.fetched = PyErr_GetRaisedException();
  return error;
}

void raise_pending_error(PendingError error) {
  if (error.fetched != nullptr) {
    PyErr_SetRaisedException(error.fetched);  // steals the reference
    error.fetched = nullptr;
    return;
  }
  PyObject* text = PyUnicode_DecodeUTF8(error.message.data(),
                                        static_cast<Py_ssize_t>(error.message.size()), "replace");
  if (text == nullptr) return;  // the decode failure is now the pending error
  PyObject* value = text;
  if (error.type == panic_exception_type()) {
    value = PyTuple_Pack(1, text);
    Py_DECREF(text);
    if (value == nullptr) return;
  }
  PyErr_SetObject(error.type, value);
  Py_DECREF(value);
}

}  // namespace tessary::binding
