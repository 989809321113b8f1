// The two functions the module offers: make_seed and generate_entities.
//
// Each entry point binds and converts its arguments, runs the typed implementation, and turns
// every failure into a Python exception in one place. They run with the GIL held and keep it.
#pragma once

#include <Python.h>

namespace tessary::core_module {

extern PyMethodDef make_seed_def;
extern PyMethodDef generate_entities_def;

}  // namespace tessary::core_module
