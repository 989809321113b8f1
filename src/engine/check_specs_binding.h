// check_specs: the problems of a specs document, as tuples for the package's SpecProblem.
#pragma once

#include <Python.h>

namespace tessary::engine {

// check_specs(specs_json) -> list of (severity, message, index, name, line, column), in document
// order; index and name are None for the reader's error.
extern PyMethodDef check_specs_def;

}  // namespace tessary::engine
