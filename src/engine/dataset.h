// tessary._engine.Dataset: a data set document read once with a seed, whose tables are Tables.
//
// Dataset(seed, document_json) reads and checks the document at construction (its error is a
// ValueError with the reader's text and position). The object is immutable. Attributes: seed,
// document_json, tables (the names, in document order). Methods: _table(cls, name) -> a new `cls`
// (the package's Table) of all the ids of that table, sharing the read specs; problems() -> the
// check_specs tuples of every table.
#pragma once

#include <Python.h>

#include "binding/run_entry.h"

namespace tessary::engine {

// The type, made once per module (a heap type that Python may subclass). Null with an exception
// set on failure.
PyObject* make_dataset_type(PyObject* module);

// The check_specs tuples of table `name` (a str) of `dataset` (a Dataset). Requires the GIL.
binding::CallResult dataset_table_problems(PyObject* dataset, PyObject* name);

}  // namespace tessary::engine
