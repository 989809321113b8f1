#include "engine/check_specs_binding.h"

#include <string>
#include <vector>

#include "sampling/check_specs.h"
#include "binding/arguments.h"
#include "binding/run_entry.h"

namespace tessary::engine {
namespace {

using binding::CallResult;
using binding::PendingError;

PyObject* text_or_none(const std::optional<std::string>& text) {
  if (!text) return Py_NewRef(Py_None);
  return PyUnicode_DecodeUTF8(text->data(), static_cast<Py_ssize_t>(text->size()), "replace");
}

PyObject* index_or_none(const std::optional<std::size_t>& index) {
  if (!index) return Py_NewRef(Py_None);
  return PyLong_FromSize_t(*index);
}

// One problem as a tuple; null with the interpreter's error set on failure.
PyObject* problem_tuple(const SpecProblem& problem) {
  PyObject* message = PyUnicode_DecodeUTF8(
      problem.message.data(), static_cast<Py_ssize_t>(problem.message.size()), "replace");
  PyObject* index = index_or_none(problem.index);
  PyObject* name = text_or_none(problem.name);
  PyObject* tuple = nullptr;
  if (message != nullptr && index != nullptr && name != nullptr) {
    tuple = Py_BuildValue("(sOOOnn)", severity_name(problem.severity), message, index, name,
                          static_cast<Py_ssize_t>(problem.line),
                          static_cast<Py_ssize_t>(problem.column));
  }
  Py_XDECREF(message);
  Py_XDECREF(index);
  Py_XDECREF(name);
  return tuple;
}

}  // namespace

CallResult problem_list(std::string_view specs_json) {
  return problems_to_list(check_specs(specs_json));
}

CallResult problems_to_list(const std::vector<SpecProblem>& problems) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(problems.size()));
  if (list == nullptr) return PendingError::fetch();
  for (std::size_t k = 0; k < problems.size(); ++k) {
    PyObject* tuple = problem_tuple(problems[k]);
    if (tuple == nullptr) {
      Py_DECREF(list);
      return PendingError::fetch();
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(k), tuple);
  }
  return list;
}

namespace {

constexpr const char* CHECK_PARAMS[] = {"specs_json"};
constexpr binding::Signature CHECK_SIGNATURE{"check_specs", CHECK_PARAMS, 1};

PyObject* check_specs_entry(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames) {
  return binding::run_entry([&]() -> CallResult {
    PyObject* bound[1];
    if (auto error = binding::bind_arguments(CHECK_SIGNATURE, args, nargsf, kwnames, bound)) {
      return std::move(*error);
    }
    auto specs = binding::to_utf8(bound[0], "specs_json");
    if (auto* error = std::get_if<PendingError>(&specs)) return std::move(*error);
    return problem_list(std::get<std::string_view>(specs));
  });
}

}  // namespace

PyMethodDef check_specs_def = {
    "check_specs",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(check_specs_entry)),
    METH_FASTCALL | METH_KEYWORDS,
    "check_specs(specs_json)\n--\n\n"
    "The problems of a specs document as (severity, message, index, name, line, column) tuples."};

}  // namespace tessary::engine
