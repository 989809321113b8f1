// nanoarrow result codes as this system's failures.
#pragma once

#include "nanoarrow/nanoarrow.h"
#include "records/panic.h"

namespace tessary {

// Does nothing for NANOARROW_OK. ENOMEM (memory refused) throws std::bad_alloc. Any other code
// means the columns code built something that nanoarrow rejects, an internal fault: it panics with
// `what`, the code and nanoarrow's message when `error` holds one.
void check_arrow(ArrowErrorCode code, const char* what, const ArrowError* error = nullptr,
                 SourceLocation where = SourceLocation::current());

}  // namespace tessary
