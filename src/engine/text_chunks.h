// iter_text: the text of an id range as an iterator of bytes chunks, built as it is consumed.
#pragma once

#include <Python.h>

namespace tessary::engine {

// The type of the iterator iter_text returns, made once per module (a heap type). Null with an
// exception set on failure.
PyObject* make_text_chunks_type(PyObject* module);

// iter_text(seed, scale, specs_json, format, compression, level, start, stop) -> iterator
//
// Arguments and specs are checked, and entity `start` built, at the call. Each next() returns the
// next block's bytes (compressed when asked), building later blocks on the worker pool meanwhile,
// with the GIL released while it waits. close(), or dropping the iterator, cancels the blocks in
// flight and frees everything. A failure ends the iteration with its exception.
extern PyMethodDef iter_text_def;

}  // namespace tessary::engine
