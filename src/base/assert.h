// TESSARY_ASSERT(condition): checks a requirement that a function's contract states, in checked
// builds only.
//
// A checked build (TESSARY_CHECKED=1, which the sanitizer build sets) reports a false condition on
// standard error with its source location and aborts: a broken requirement is a fault of the
// caller inside the core, never of the input, so no error value or panic could be handled. Other
// builds compile the condition away (it is still parsed, and must stay free of side effects), so a
// requirement costs nothing on a hot path.
#pragma once

#include "base/panic.h"

#if defined(TESSARY_CHECKED) && TESSARY_CHECKED
#define TESSARY_ASSERT(condition)                                                             \
  ((condition) ? static_cast<void>(0)                                                         \
               : ::tessary::assertion_failed(#condition, ::tessary::SourceLocation::current()))
#else
#define TESSARY_ASSERT(condition) static_cast<void>(sizeof(static_cast<bool>(condition)))
#endif

namespace tessary {

// Reports "assertion failed: <condition>" and where on standard error, then aborts.
[[noreturn, gnu::cold]] void assertion_failed(const char* condition, SourceLocation where);

}  // namespace tessary
