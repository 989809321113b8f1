// PendingError: an error of a Python entry point that has not been raised yet.
//
// Inside the module, failures travel as values: an exception type plus a message text, or an
// exception object already fetched from the interpreter. Only the entry point that gives up turns
// one into the interpreter's error indicator, with raise_pending_error. Requires the GIL
// throughout.
#pragma once

#include <Python.h>

#include <optional>
#include <string>
#include <variant>

namespace tessary::binding {

struct [[nodiscard]] PendingError {
  PyObject* type = nullptr;     // borrowed: a built-in exception type or the PanicException type
  std::string message;          // used when `fetched` is empty
  PyObject* fetched = nullptr;  // owned: an exception object taken from the interpreter

  PendingError() = default;
  PendingError(PyObject* exception_type, std::string text)
      : type(exception_type), message(std::move(text)) {}
  PendingError(PendingError&& other) noexcept
      : type(other.type), message(std::move(other.message)), fetched(other.fetched) {
    other.fetched = nullptr;
  }
  PendingError& operator=(PendingError&& other) noexcept;
  PendingError(const PendingError&) = delete;
  PendingError& operator=(const PendingError&) = delete;
  ~PendingError() { Py_XDECREF(fetched); }

  // Takes the interpreter's pending exception (which must be set) out of the error indicator.
  static PendingError fetch();
};

// Moves the value of a conversion's result into `out`, or hands back its error:
//   if (auto error = take(to_u64(value, "seed"), seed)) return std::move(*error);
template <class T>
[[nodiscard]] std::optional<PendingError> take(std::variant<T, PendingError>&& result, T& out) {
  if (auto* error = std::get_if<PendingError>(&result)) return std::move(*error);
  out = std::move(std::get<T>(result));
  return std::nullopt;
}

// Sets the interpreter's error indicator from the error; str() of the raised exception is the
// message. For PanicException the value is a one-element tuple holding the message.
void raise_pending_error(PendingError error);

}  // namespace tessary::binding
