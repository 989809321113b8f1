// Binding and conversion of the arguments of the module's functions.
//
// Binding follows Python's own rules for a function whose parameters may all be passed by
// position or by keyword, with the interpreter's messages. Conversions return the value or a
// PendingError; nothing here raises. Requires the GIL.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <variant>

#include "binding/pending_error.h"

namespace tessary::binding {

struct Signature {
  const char* name;                     // "generate_entities"
  std::span<const char* const> params;  // parameter names in order
  std::size_t required;                 // the first `required` parameters have no default
};

// Binds a vectorcall argument list (args, nargsf, kwnames) to the signature's parameters:
// bound[k] receives a borrowed reference to the argument of parameter k, or nullptr when it was
// not passed (only possible for optional parameters). `bound` has one entry per parameter.
[[nodiscard]] std::optional<PendingError> bind_arguments(const Signature& signature,
                                                         PyObject* const* args, Py_ssize_t nargsf,
                                                         PyObject* kwnames,
                                                         std::span<PyObject*> bound);

// Converts an int (or an object with __index__) to an unsigned 64-bit value. Negative or too large
// values give the interpreter's OverflowError; other types its TypeError, re-raised as
// "argument '<param>': <message>".
[[nodiscard]] std::variant<std::uint64_t, PendingError> to_u64(PyObject* value, const char* param);

// The UTF-8 form of a str (or str subclass), borrowed from the object: valid while it lives.
[[nodiscard]]
std::variant<std::string_view, PendingError> to_utf8(PyObject* value, const char* param);

}  // namespace tessary::binding
