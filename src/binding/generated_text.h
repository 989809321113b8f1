// A text held whole in memory (pipeline/generate.h) handed to Python: the str, or the error that
// stands for the text when it cannot be had.
#pragma once

#include <Python.h>

#include <cstdint>

#include "binding/pending_error.h"
#include "binding/run_entry.h"
#include "pipeline/generate.h"

namespace tessary::binding {

// The interpreter could not make a result object: its MemoryError when memory ran out, else the
// error is printed and the call panics ("Python API call failed"). Requires an error to be set.
PendingError api_call_failed();

// The str of the text's blocks: ASCII text is copied straight into a compact str, other text is
// assembled once and decoded from UTF-8. The blocks are released as they are copied.
CallResult text_to_str(GeneratedText& text);

// MemoryError for `count` entities whose text cannot fit.
PendingError too_large_error(std::uint64_t count, const OutputTooLarge& large);

}  // namespace tessary::binding
