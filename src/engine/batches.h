// generate_batches: the entities of an id range as an Arrow PyCapsule stream object.
#pragma once

#include <Python.h>

namespace tessary::engine {

// The type of the object generate_batches returns, made once per module (a heap type). Null
// with an exception set on failure.
PyObject* make_batches_type(PyObject* module);

// generate_batches(seed, scale, specs_json, start, stop, batch_rows) -> Batches
//
// Reads the specs and plans the columns at the call: a spec error, a spec named "id" and a name
// holding U+0000 raise ValueError there. The object implements the Arrow PyCapsule interface:
// __arrow_c_schema__() any number of times, __arrow_c_stream__() once (a second call raises
// ValueError); batches are built as the consumer pulls them.
extern PyMethodDef generate_batches_def;

}  // namespace tessary::engine
