// The powers of ten that the number reader scales by.
#pragma once

#include <cstddef>

namespace tessary {

inline constexpr std::size_t POW10_F64_COUNT = 309;

// POW10_F64[k] is the double nearest to 10^k (ties to even), for k = 0 to 308. Made by
// tools/make_pow10_table.py.
extern const double POW10_F64[POW10_F64_COUNT];

}  // namespace tessary
