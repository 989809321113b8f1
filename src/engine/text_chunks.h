// iter_text: the text of an id range as an iterator of bytes chunks, built as it is consumed.
#pragma once

#include <Python.h>

#include <memory>

#include "pipeline/text_stream.h"

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

// The stream of an iter_text iterator that no next() has touched, taken out of it (the iterator
// is then exhausted), for a caller that checked the arguments by making the iterator and now
// writes the text itself. Null with TypeError when `object` is not such an iterator, ValueError
// when its iteration has begun or ended. Requires the GIL.
std::unique_ptr<TextStream> take_unstarted_stream(PyObject* module, PyObject* object);

}  // namespace tessary::engine
