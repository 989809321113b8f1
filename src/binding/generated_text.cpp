#include "binding/generated_text.h"

#include <memory>
#include <string>

#include "base/panic.h"
#include "binding/panic_exception.h"

namespace tessary::binding {

PendingError api_call_failed() {
  if (PyErr_ExceptionMatches(PyExc_MemoryError)) return PendingError::fetch();
  PyErr_Print();
  report_panic("Python API call failed", SourceLocation::current());
  return panic_error("Python API call failed");
}

CallResult text_to_str(GeneratedText& text) {
  if (text.length > static_cast<std::size_t>(PY_SSIZE_T_MAX)) return api_call_failed();
  const Py_ssize_t length = static_cast<Py_ssize_t>(text.length);
  if (text.ascii) {
    PyObject* str = PyUnicode_New(length, 127);
    if (str == nullptr) return api_call_failed();
    try {
      assemble_text(text, static_cast<char*>(PyUnicode_DATA(str)));
    } catch (...) {  // bad_alloc or a panic of the pool: the str is not handed out
      Py_DECREF(str);
      throw;
    }
    return str;
  }
  std::unique_ptr<char[]> joined(new char[text.length]);
  assemble_text(text, joined.get());
  PyObject* str = PyUnicode_FromStringAndSize(joined.get(), length);
  if (str == nullptr) return api_call_failed();
  return str;
}

PendingError too_large_error(std::uint64_t count, const OutputTooLarge& large) {
  return PendingError(PyExc_MemoryError,
                      "cannot generate " + std::to_string(count) +
                          " entities: the output needs at least " + std::to_string(large.needed) +
                          " bytes, more than the " + std::to_string(large.limit) + " bytes of " +
                          large.limit_name);
}

}  // namespace tessary::binding
