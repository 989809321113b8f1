// write_text: streams the text of an id range to a file descriptor or a binary file object.
#pragma once

#include <Python.h>

namespace tessary::engine {

// write_text(target, chunks, digest, progress)
//     -> (entities, text_bytes, bytes_written, digest, text_digest)
//
// Writes the text of `chunks`, an iter_text() iterator that has not been read (so the arguments,
// the specs and the first entity were checked, and the specs read, once, when it was made; it is
// exhausted afterwards). `target` is an int (a file descriptor, written with the GIL released) or
// an object with a write method taking bytes (called with the GIL; see write_bytes for what it may
// return). Blocks are built on the worker
// pool while the caller writes finished ones in order. Digests are SHA-256 hex texts, or None
// without `digest`. Failures: TypeError or ValueError for another object or a read iterator,
// before anything is written; a sampler's failure as
// PanicException with the lowest failing id's message (no report is printed); a write error as
// OSError with its errno; a signal handler's or the progress callable's exception as itself.
extern PyMethodDef write_text_def;

// write_bytes(target, data) -> None
//
// Writes all of `data` (a bytes-like object) to `target` as write_text writes a chunk, by the same
// routine: a file descriptor with the GIL released, a file object going on after short writes. A
// raw file (io.RawIOBase) whose write() returns None took nothing: the call waits until its
// descriptor can take bytes, or raises BlockingIOError when it has none. A count outside 1 to the
// bytes offered, or a return that is not an int, is an OSError showing it. For the writers that
// produce their bytes in Python (Parquet).
extern PyMethodDef write_bytes_def;

}  // namespace tessary::engine
