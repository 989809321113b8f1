// The extension module tessary._engine: streaming output beside the original functions of
// tessary._core, on the same core library, worker pool and PanicException type.
//
// Multi-phase initialisation. The worker pool and the exception type are per process, not per
// interpreter, so the module declares that it cannot be loaded in other interpreters.
#include <Python.h>

#include "engine/batches.h"
#include "engine/check_specs_binding.h"
#include "engine/engine_state.h"
#include "engine/hasher.h"
#include "engine/text_chunks.h"
#include "engine/write_text.h"
#include "module/panic_exception.h"

namespace tessary::engine {
namespace {

PyObject* panic_exception_entry(PyObject*, PyObject*) {
  return Py_XNewRef(module::panic_exception_type());
}

PyMethodDef PANIC_EXCEPTION_DEF = {
    "panic_exception", panic_exception_entry, METH_NOARGS,
    "panic_exception()\n--\n\n"
    "The PanicException type that both extension modules raise, created on first use."};

int exec_module(PyObject* module) {
  // Made here, not at namespace scope: the definitions live in other files, whose initialisation
  // order against this one is unspecified; all of it is done once the module is executed.
  static PyMethodDef methods[] = {
      write_text_def,
      iter_text_def,
      generate_batches_def,
      check_specs_def,
      PANIC_EXCEPTION_DEF,
      {nullptr, nullptr, 0, nullptr},
  };
  if (PyModule_AddFunctions(module, methods) < 0) return -1;
  EngineState& state = engine_state(module);
  state.text_chunks_type = make_text_chunks_type(module);
  if (state.text_chunks_type == nullptr) return -1;
  state.batches_type = make_batches_type(module);
  if (state.batches_type == nullptr) return -1;
  // Looked up by name only: the module's attribute keeps the type alive.
  PyObject* hasher_type = make_hasher_type(module);
  if (hasher_type == nullptr) return -1;
  const int added = PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(hasher_type));
  Py_DECREF(hasher_type);
  return added;
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
  Py_VISIT(engine_state(module).text_chunks_type);
  Py_VISIT(engine_state(module).batches_type);
  return 0;
}

int clear_module(PyObject* module) {
  Py_CLEAR(engine_state(module).text_chunks_type);
  Py_CLEAR(engine_state(module).batches_type);
  return 0;
}

PyModuleDef_Slot SLOTS[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {Py_mod_gil, Py_MOD_GIL_USED},
    {0, nullptr},
};

PyModuleDef DEFINITION = {
    PyModuleDef_HEAD_INIT,
    "_engine",
    "Tessary's streaming functions, on the same C++ core as tessary._core.",
    sizeof(EngineState),
    nullptr,  // the functions are added by exec_module
    SLOTS,
    traverse_module,
    clear_module,
    nullptr,
};

}  // namespace
}  // namespace tessary::engine

PyMODINIT_FUNC PyInit__engine(void) {
  return PyModuleDef_Init(&tessary::engine::DEFINITION);
}
