// Uint128: the one unsigned 128-bit integer type of the code base (a GCC and Clang extension), for
// exact products of two 64-bit words and for sums that may pass 2^64.
#pragma once

namespace tessary {

using Uint128 = unsigned __int128;

}  // namespace tessary
