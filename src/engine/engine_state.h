// The state of the tessary._engine module object.
#pragma once

#include <Python.h>

namespace tessary::engine {

struct EngineState {
  PyObject* table_type;  // strong references
  PyObject* text_chunks_type;
  PyObject* batches_type;
};

// The module's definition, by which the types' methods find the module (and its state).
extern PyModuleDef engine_definition;

// The tessary._engine module that defined `type` or a base of it (borrowed), or null with an
// exception set.
inline PyObject* engine_module_of(PyTypeObject* type) {
  return PyType_GetModuleByDef(type, &engine_definition);
}

// Requires: `module` is the tessary._engine module.
inline EngineState& engine_state(PyObject* module) {
  return *static_cast<EngineState*>(PyModule_GetState(module));
}

}  // namespace tessary::engine
