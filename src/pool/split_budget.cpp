#include "pool/split_budget.h"

#include <algorithm>

namespace tessary {

bool try_split(std::size_t& budget, std::size_t length, bool stolen, std::size_t thread_count) {
  if (length / 2 < 1) return false;
  if (stolen) {
    budget = std::max(budget / 2, thread_count);
    return true;
  }
  if (budget == 0) return false;
  budget /= 2;
  return true;
}

}  // namespace tessary
