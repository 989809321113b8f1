// tessary._engine.Table: a specs document read once, a seed and an id range, from which every
// output is made.
//
// Table(seed, scale, specs_json, *, start=0, stop=None) reads the specs at construction (their
// error is a ValueError with the reader's text) and checks 0 <= start <= stop <= scale. The object
// is immutable; its slices share the read specs, so a slice costs no reading. Any number of
// outputs may be taken from one table at once, from any thread: each holds its own share of the
// specs and lives on after the table is gone.
//
// Methods: text(format="json") -> str; check_first_entity() (raises the failure of entity `start`,
// if any, without writing anything); problems() -> the check_specs tuples; attributes() ->
// (name, kind) of every spec; __arrow_c_schema__() and __arrow_c_stream__() (a new stream on every
// call). For the package's Table class, which subclasses it: _range(start, stop) (absolute ids),
// _chunks(format, compression, level), _write(target, format, compression, level, digest,
// progress), _batches(batch_rows).
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>

#include "binding/run_entry.h"
#include "pipeline/prepared_specs.h"

namespace tessary::engine {

// The parts of a table of a data set (engine/dataset.h): its read specs and the str they were
// read from, the data set's seed and the table's own, its scale, the data set object and the
// table's name (a str).
struct DatasetTableParts {
  std::shared_ptr<const PreparedSpecs> specs;
  PyObject* specs_json;
  std::uint64_t seed;
  std::uint64_t table_seed;
  std::uint64_t scale;
  PyObject* dataset;
  PyObject* name;
};

// A new table of `type` (the type of make_table_type or a subclass) of all the ids of a data
// set's table. Requires the GIL.
binding::CallResult new_dataset_table(PyTypeObject* type, const DatasetTableParts& parts);

// The type, made once per module (a heap type that Python may subclass). Null with an exception
// set on failure.
PyObject* make_table_type(PyObject* module);

// check_range(scale, start, stop) -> stop: the range rule of Table(), for callers that must check
// it apart from the specs (the command line, to tell a bad argument from a bad document).
extern PyMethodDef check_range_def;

}  // namespace tessary::engine
