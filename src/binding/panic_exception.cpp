#include "binding/panic_exception.h"

#include <mutex>

namespace tessary::binding {

PyObject* panic_exception_type() {
  static PyObject* type = nullptr;
  static std::once_flag created;
  // Every caller holds the GIL, and creating the type does not release it, so the guard never
  // blocks; it makes the once-only creation explicit.
  std::call_once(created, [] {
    type = PyErr_NewExceptionWithDoc(
        "tessary.PanicException",
        "The exception raised when native code called from Python panics.\n\n"
        "Like SystemExit, this exception is derived from BaseException so that it will typically "
        "propagate all the way through the stack and cause the Python interpreter to exit.",
        PyExc_BaseException, nullptr);
  });
  return type;
}

}  // namespace tessary::binding

namespace tessary::binding {

PendingError panic_error(std::string message) {
  PyObject* type = panic_exception_type();
  if (type == nullptr) {
    // The interpreter could not even create the type (out of memory): report the panic as the
    // closest built-in failure rather than losing it.
    PyErr_Clear();
    type = PyExc_SystemError;
  }
  return PendingError(type, std::move(message));
}

}  // namespace tessary::binding
