#include "binding/arguments.h"

#include <cstring>
#include <string>
#include <vector>

namespace tessary::binding {
namespace {

std::string full_name(const Signature& signature) {
  return std::string(signature.name) + "()";
}

PendingError type_error(std::string message) {
  return PendingError(PyExc_TypeError, std::move(message));
}

// The keyword as str() shows it, in UTF-8 (characters with no UTF-8 form are escaped).
std::string keyword_text(PyObject* keyword) {
  PyObject* bytes = PyUnicode_AsEncodedString(keyword, "utf-8", "backslashreplace");
  if (bytes == nullptr) {
    PyErr_Clear();
    return "?";
  }
  std::string text(PyBytes_AS_STRING(bytes), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)));
  Py_DECREF(bytes);
  return text;
}

PendingError too_many_positional(const Signature& signature, std::size_t given) {
  const std::size_t total = signature.params.size();
  std::string message = full_name(signature) + " takes ";
  if (signature.required == total) {
    message += std::to_string(total);
  } else {
    message += "from " + std::to_string(signature.required) + " to " + std::to_string(total);
  }
  message += " positional arguments but " + std::to_string(given) +
             (given == 1 ? " was" : " were") + " given";
  return type_error(std::move(message));
}

PendingError missing_required(const Signature& signature, const std::vector<const char*>& names) {
  std::string list;
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (k > 0) list += names.size() == 2 ? " and " : (k + 1 == names.size() ? ", and " : ", ");
    list += '\'';
    list += names[k];
    list += '\'';
  }
  return type_error(full_name(signature) + " missing " + std::to_string(names.size()) +
                    " required positional " + (names.size() == 1 ? "argument" : "arguments") +
                    ": " + list);
}

// A TypeError of exactly that type is rewrapped as "argument '<param>': <message>", keeping the
// original's cause; every other error passes through unchanged.
PendingError conversion_error(const char* param) {
  PendingError error = PendingError::fetch();
  if (Py_TYPE(error.fetched) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) return error;

  PyObject* text = PyObject_Str(error.fetched);
  if (text == nullptr) return PendingError::fetch();
  PyObject* message = PyUnicode_FromFormat("argument '%s': %U", param, text);
  Py_DECREF(text);
  if (message == nullptr) return PendingError::fetch();
  PyObject* replacement = PyObject_CallOneArg(PyExc_TypeError, message);
  Py_DECREF(message);
  if (replacement == nullptr) return PendingError::fetch();
  PyException_SetCause(replacement, PyException_GetCause(error.fetched));  // steals; may be NULL

  PendingError wrapped;
  wrapped.fetched = replacement;
  return wrapped;
}

}  // namespace

[[nodiscard]]
std::optional<PendingError> bind_arguments(const Signature& signature, PyObject* const* args,
                                           Py_ssize_t nargsf, PyObject* kwnames,
                                           std::span<PyObject*> bound) {
  const std::size_t positional = static_cast<std::size_t>(PyVectorcall_NARGS(nargsf));
  const std::size_t total = signature.params.size();
  for (PyObject*& slot : bound) slot = nullptr;

  if (positional > total) return too_many_positional(signature, positional);
  for (std::size_t k = 0; k < positional; ++k) bound[k] = args[k];

  const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t j = 0; j < keywords; ++j) {
    PyObject* keyword = PyTuple_GET_ITEM(kwnames, j);
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(keyword, &length);
    std::size_t match = total;
    if (utf8 == nullptr) {
      PyErr_Clear();  // a name without a UTF-8 form matches no parameter
    } else {
      for (std::size_t k = 0; k < total; ++k) {
        if (std::strlen(signature.params[k]) == static_cast<std::size_t>(length) &&
            std::memcmp(signature.params[k], utf8, static_cast<std::size_t>(length)) == 0) {
          match = k;
          break;
        }
      }
    }
    if (match == total) {
      return type_error(full_name(signature) + " got an unexpected keyword argument '" +
                        keyword_text(keyword) + "'");
    }
    if (bound[match] != nullptr) {
      return type_error(full_name(signature) + " got multiple values for argument '" +
                        signature.params[match] + "'");
    }
    bound[match] = args[positional + static_cast<std::size_t>(j)];
  }

  std::vector<const char*> missing;
  for (std::size_t k = 0; k < signature.required; ++k) {
    if (bound[k] == nullptr) missing.push_back(signature.params[k]);
  }
  if (!missing.empty()) return missing_required(signature, missing);
  return std::nullopt;
}

[[nodiscard]] std::variant<std::uint64_t, PendingError> to_u64(PyObject* value, const char* param) {
  unsigned long long result;
  if (PyLong_Check(value)) {
    result = PyLong_AsUnsignedLongLong(value);
  } else {
    PyObject* index = PyNumber_Index(value);
    if (index == nullptr) return conversion_error(param);
    result = PyLong_AsUnsignedLongLong(index);
    Py_DECREF(index);
  }
  // All ones is also a valid value; it is an error only when the interpreter says so.
  if (result == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    return conversion_error(param);
  }
  return static_cast<std::uint64_t>(result);
}

[[nodiscard]]
std::variant<std::string_view, PendingError> to_utf8(PyObject* value, const char* param) {
  if (!PyUnicode_Check(value)) {
    PyObject* type_name = PyType_GetName(Py_TYPE(value));
    if (type_name == nullptr) return PendingError::fetch();
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to 'PyString'", type_name);
    Py_DECREF(type_name);
    return conversion_error(param);
  }
  Py_ssize_t length = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(value, &length);
  if (utf8 == nullptr) return conversion_error(param);  // UnicodeEncodeError, unchanged
  return std::string_view(utf8, static_cast<std::size_t>(length));
}

}  // namespace tessary::binding
