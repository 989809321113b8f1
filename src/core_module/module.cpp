// The extension module tessary._core: single-phase initialisation of one module per process.
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "core_module/functions.h"

namespace tessary::core_module {
namespace {

// The interpreter that first imported the module; the module's state is not per interpreter,
// so any other interpreter is refused.
std::atomic<std::int64_t> g_interpreter_id{-1};
PyObject* g_module = nullptr;  // set once, read and written with the GIL held

PyModuleDef g_definition = {
    PyModuleDef_HEAD_INIT,
    "_core",
    "Tessary C++ core extension module.",
    0,        // no per-module state
    nullptr,  // the functions are added by add_function
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Appends the function's name to __all__ (created as an empty list when missing) and sets the
// module attribute of that name to the function.
int add_function(PyObject* module, PyMethodDef* definition) {
  PyObject* module_name = PyModule_GetNameObject(module);
  if (module_name == nullptr) return -1;
  PyObject* function = PyCMethod_New(definition, module, module_name, nullptr);
  Py_DECREF(module_name);
  if (function == nullptr) return -1;

  int status = -1;
  PyObject* name = PyObject_GetAttrString(function, "__name__");
  PyObject* all = nullptr;
  if (name == nullptr) goto done;
  if (!PyUnicode_Check(name)) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to '%s'", Py_TYPE(name)->tp_name,
                 "PyString");
    goto done;
  }
  if (PyObject_GetOptionalAttrString(module, "__all__", &all) < 0) goto done;
  if (all == nullptr) {
    all = PyList_New(0);
    if (all == nullptr || PyObject_SetAttrString(module, "__all__", all) < 0) goto done;
  }
  if (!PyList_Check(all)) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to '%s'", Py_TYPE(all)->tp_name,
                 "PyList");
    goto done;
  }
  if (PyList_Append(all, name) < 0) goto done;
  if (PyObject_SetAttr(module, name, function) < 0) goto done;
  status = 0;
done:
  Py_XDECREF(all);
  Py_XDECREF(name);
  Py_DECREF(function);
  return status;
}

PyObject* create_module() {
  PyObject* module = PyModule_Create2(&g_definition, 1013);
  if (module == nullptr) return nullptr;
  if (add_function(module, &make_seed_def) < 0 ||
      add_function(module, &generate_entities_def) < 0) {
    Py_DECREF(module);  // a later import tries again
    return nullptr;
  }
  return module;
}

}  // namespace

PyObject* init_module() {
  const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1) return nullptr;
  std::int64_t expected = -1;
  if (!g_interpreter_id.compare_exchange_strong(expected, id) && expected != id) {
    PyErr_SetString(PyExc_ImportError,
                    "tessary._core does not support loading in subinterpreters: it can be imported "
                    "only in the first interpreter that imported it");
    return nullptr;
  }
  if (g_module != nullptr) return Py_NewRef(g_module);
  PyObject* module = create_module();
  if (module == nullptr) return nullptr;
  g_module = Py_NewRef(module);
  return module;
}

}  // namespace tessary::core_module

PyMODINIT_FUNC PyInit__core(void) {
  return tessary::core_module::init_module();
}
