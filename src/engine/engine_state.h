// The state of the tessary._engine module object.
#pragma once

#include <Python.h>

namespace tessary::engine {

struct EngineState {
  PyObject* text_chunks_type;  // strong references
  PyObject* batches_type;
};

// Requires: `module` is the tessary._engine module.
inline EngineState& engine_state(PyObject* module) {
  return *static_cast<EngineState*>(PyModule_GetState(module));
}

}  // namespace tessary::engine
