// check_specs: the problems of a specs document, as tuples for the package's SpecProblem.
#pragma once

#include <Python.h>

#include <string_view>
#include <vector>

#include "binding/run_entry.h"
#include "sampling/check_specs.h"

namespace tessary::engine {

// The problems of the document as a new list of (severity, message, index, name, line, column),
// in document order; index and name are None for the reader's error. Requires the GIL.
binding::CallResult problem_list(std::string_view specs_json);

// The problems as problem_list gives them. Requires the GIL.
binding::CallResult problems_to_list(const std::vector<SpecProblem>& problems);

// check_specs(specs_json) -> problem_list(specs_json)
extern PyMethodDef check_specs_def;

}  // namespace tessary::engine
