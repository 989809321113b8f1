// Hasher: the core's digests for the package's Python code that hashes files itself (a data set's
// parts, a Parquet file written through pyarrow), with hashlib's update() and hexdigest().
#pragma once

#include <Python.h>

#include <variant>

#include "digest/digest.h"
#include "binding/pending_error.h"

namespace tessary::engine {

// The algorithm a str names ("sha256" or "xxh128"): TypeError for another object, ValueError for
// another name, both naming `param`. Requires the GIL.
[[nodiscard]]
std::variant<DigestAlgorithm, binding::PendingError> read_digest_algorithm(PyObject* value,
                                                                          const char* param);

// The type tessary._engine.Hasher:
//     Hasher(algorithm)    a new digest of "sha256" or "xxh128"
//     update(data)         feeds a bytes-like object; ValueError once hexdigest() was called
//     hexdigest()          lower-case hex of everything fed (XXH3-128 in its canonical
//                          big-endian form); the same text on every later call
//     name                 the algorithm's name
// Thread-safe: calls on one object take turns; an update of 64 KiB or more runs with the GIL
// released. Returns a new reference, or null with the interpreter's error set.
PyObject* make_hasher_type(PyObject* module);

}  // namespace tessary::engine
