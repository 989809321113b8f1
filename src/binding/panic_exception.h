// PanicException: how an unrecoverable failure of a call reaches Python.
//
// It derives from BaseException, so `except Exception` does not catch it. The type is created the
// first time it is needed and kept for the life of the process. Requires the GIL.
#pragma once

#include <Python.h>

namespace tessary::binding {

// Borrowed reference to the type, created on first use; nullptr (with an exception set) only if
// the interpreter could not create it.
PyObject* panic_exception_type();

}  // namespace tessary::binding

#include <string>

#include "binding/pending_error.h"

namespace tessary::binding {

// A pending PanicException with the given message.
PendingError panic_error(std::string message);

}  // namespace tessary::binding
