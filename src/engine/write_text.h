// Writing a streamed text to a file descriptor or a binary file object.
#pragma once

#include <Python.h>

#include <memory>

#include "binding/run_entry.h"
#include "pipeline/text_stream.h"

namespace tessary::engine {

// Streams every block of `stream` to `target`: a file descriptor (an int, written with write(2),
// going on after short writes and EINTR) or a binary file object (its write(), with the GIL taken
// for each call). The GIL is released meanwhile; signals are looked at and `progress` (None or a
// callable taking (done, total, bytes)) is called about ten times a second. With a `digest` of
// "sha256" or "xxh128" (None: no digest), the digests of the bytes written and of the
// uncompressed text are computed on the way.
// Returns (entities, text_bytes, bytes_written, digest, text_digest). On failure the target keeps
// what was written before it. Requires the GIL.
binding::CallResult write_stream(PyObject* target, std::unique_ptr<TextStream> stream,
                                 PyObject* digest, PyObject* progress);

// write_bytes(target, data) -> None
//
// Writes all of `data` (a bytes-like object) to `target` as write_stream writes a chunk, by the
// same routine: a file descriptor with the GIL released, a file object going on after short
// writes. A raw file (io.RawIOBase) whose write() returns None took nothing: the call waits until
// its descriptor can take bytes, or raises BlockingIOError when it has none. A count outside 1 to
// the bytes offered, or a return that is not an int, is an OSError showing it. For the writers
// that produce their bytes in Python (Parquet).
extern PyMethodDef write_bytes_def;

}  // namespace tessary::engine
