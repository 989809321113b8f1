// When collect_indexed splits a piece of its index range in two.
//
// Every piece carries a split budget, which starts at the pool's thread count. A piece splits only
// if it has at least two indices and the budget allows it: a stolen piece (taken by a thread other
// than the one that offered it) re-arms the budget to the larger of half the budget and the thread
// count and splits, so that idle threads that took work find more to take; otherwise a budget of 0
// stops splitting and any other budget is halved. Both halves carry the budget the split left, so a
// budget of n allows about n pieces along each path.
#pragma once

#include <cstddef>

namespace tessary {

// Decides whether a piece of `length` indices splits, updating `budget` when it does.
bool try_split(std::size_t& budget, std::size_t length, bool stolen, std::size_t thread_count);

}  // namespace tessary
