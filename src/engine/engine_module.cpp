// The extension module tessary._engine: the Table and every output made from it, beside the two
// functions of tessary._core, on the same core library, worker pool and PanicException type.
//
// Multi-phase initialisation. The worker pool and the exception type are per process, not per
// interpreter, so the module declares that it cannot be loaded in other interpreters.
#include <Python.h>

#include "engine/batches.h"
#include "engine/check_specs_binding.h"
#include "engine/dataset.h"
#include "engine/engine_state.h"
#include "engine/hasher.h"
#include "engine/output_options.h"
#include "engine/table.h"
#include "engine/text_chunks.h"
#include "engine/write_text.h"
#include "binding/panic_exception.h"

namespace tessary::engine {
namespace {

PyObject* panic_exception_entry(PyObject*, PyObject*) {
  return Py_XNewRef(binding::panic_exception_type());
}

PyMethodDef PANIC_EXCEPTION_DEF = {
    "panic_exception", panic_exception_entry, METH_NOARGS,
    "panic_exception()\n--\n\n"
    "The PanicException type that both extension modules raise, created on first use."};

int exec_module(PyObject* module) {
  // Made here, not at namespace scope: the definitions live in other files, whose initialisation
  // order against this one is unspecified; all of it is done once the module is executed.
  static PyMethodDef methods[] = {
      output_options_def,
      output_suffix_def,
      check_range_def,
      write_bytes_def,
      check_specs_def,
      PANIC_EXCEPTION_DEF,
      {nullptr, nullptr, 0, nullptr},
  };
  if (PyModule_AddFunctions(module, methods) < 0) return -1;
  EngineState& state = engine_state(module);
  state.table_type = make_table_type(module);
  if (state.table_type == nullptr || PyModule_AddObjectRef(module, "Table", state.table_type) < 0) {
    return -1;
  }
  state.text_chunks_type = make_text_chunks_type(module);
  if (state.text_chunks_type == nullptr ||
      PyModule_AddObjectRef(module, "TextChunks", state.text_chunks_type) < 0) {
    return -1;
  }
  state.batches_type = make_batches_type(module);
  if (state.batches_type == nullptr ||
      PyModule_AddObjectRef(module, "Batches", state.batches_type) < 0) {
    return -1;
  }
  // Looked up by name only: the modules' attributes keep these types alive.
  PyObject* dataset_type = make_dataset_type(module);
  if (dataset_type == nullptr) return -1;
  const int dataset_added = PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(dataset_type));
  Py_DECREF(dataset_type);
  if (dataset_added < 0) return -1;
  PyObject* hasher_type = make_hasher_type(module);
  if (hasher_type == nullptr) return -1;
  const int added = PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(hasher_type));
  Py_DECREF(hasher_type);
  return added;
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
  Py_VISIT(engine_state(module).table_type);
  Py_VISIT(engine_state(module).text_chunks_type);
  Py_VISIT(engine_state(module).batches_type);
  return 0;
}

int clear_module(PyObject* module) {
  Py_CLEAR(engine_state(module).table_type);
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

}  // namespace

PyModuleDef engine_definition = {
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

}  // namespace tessary::engine

PyMODINIT_FUNC PyInit__engine(void) {
  return PyModuleDef_Init(&tessary::engine::engine_definition);
}
