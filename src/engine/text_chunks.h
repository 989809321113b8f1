// The text of an id range as an iterator of bytes chunks, built as it is consumed.
#pragma once

#include <Python.h>

#include <memory>

#include "binding/run_entry.h"
#include "pipeline/text_stream.h"

namespace tessary::engine {

// The type of the iterator, made once per module (a heap type). Null with an exception set on
// failure.
PyObject* make_text_chunks_type(PyObject* module);

// A new iterator over the stream's blocks. Each next() returns the next block's bytes (compressed
// when asked), building later blocks on the worker pool meanwhile, with the GIL released while it
// waits. close(), or dropping the iterator, cancels the blocks in flight and frees everything. A
// failure ends the iteration with its exception. Requires the GIL; `module` is tessary._engine.
binding::CallResult new_text_chunks(PyObject* module, std::unique_ptr<TextStream> stream);

}  // namespace tessary::engine
