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
// an object with a write method taking bytes (called with the GIL). Blocks are built on the worker
// pool while the caller writes finished ones in order. `digest` is None, "sha256" or "xxh128";
// the digests returned are lower-case hex texts of that algorithm, or None without one.
// Failures: TypeError or ValueError for another object, an unknown digest or a read iterator,
// before anything is written; a sampler's failure as PanicException with the lowest failing id's
// message (no report is printed); a write error as OSError with its errno; a signal handler's or
// the progress callable's exception as itself.
extern PyMethodDef write_text_def;

}  // namespace tessary::engine
