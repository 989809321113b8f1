// The one place where a Python entry point of either extension module turns the failures of its
// typed implementation into the interpreter's exception.
//
// An implementation returns a new reference or a PendingError; a Panic becomes PanicException,
// exhausted memory MemoryError. An exception that is neither cannot happen in the core; if one
// escapes, the process ends rather than unwinding into the interpreter. Requires the GIL.
#pragma once

#include <Python.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <variant>

#include "binding/panic_exception.h"
#include "binding/pending_error.h"
#include "base/panic.h"

namespace tessary::binding {

// A call result: a new reference, or the error to raise.
using CallResult = std::variant<PyObject*, PendingError>;

template <class Body>
PyObject* run_entry(Body&& body) noexcept {
  std::optional<PendingError> failure;
  std::optional<std::string> panic_message;
  try {
    CallResult result = body();
    if (PyObject** object = std::get_if<PyObject*>(&result)) return *object;
    failure = std::move(std::get<PendingError>(result));
  } catch (const Panic& p) {
    panic_message = p.message();
  } catch (const std::bad_alloc&) {
    failure = PendingError(PyExc_MemoryError, "out of memory while generating entities");
  } catch (...) {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::abort();
  }
  // A signal handler's exception (KeyboardInterrupt) raised while the call was being cancelled
  // wins over a failure that the cancelled work met meanwhile. The check comes before the
  // PanicException type is looked up: creating it (on the first panic of the process) with an
  // exception set would fail, and it is created only once.
  if (PyErr_Occurred()) return nullptr;
  if (panic_message) failure = panic_error(std::move(*panic_message));
  if (failure->type != nullptr || failure->fetched != nullptr)
    raise_pending_error(std::move(*failure));
  return nullptr;  // an empty PendingError means the interpreter's error is already set
}

}  // namespace tessary::binding
