#include "pool/split_budget.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessary {
namespace {

TEST(TrySplit, FollowsTheBudgetRule) {
  struct Case {
    std::size_t budget;
    std::size_t length;
    bool stolen;
    std::size_t threads;
    bool splits;
    std::size_t budget_after;
  };
  const std::vector<Case> cases = {
      {8, 0, false, 8, false, 8},
      {8, 1, false, 8, false, 8},  // a piece needs two indices to split
      {8, 1, true, 8, false, 8},
      {8, 2, false, 8, true, 4},
      {5, 100, false, 8, true, 2},
      {1, 100, false, 8, true, 0},
      {0, 100, false, 8, false, 0},
      {0, 100, true, 8, true, 8},  // a stolen piece re-arms to the thread count
      {3, 100, true, 8, true, 8},
      {40, 100, true, 8, true, 20},  // or to half its budget when that is larger
      {0, 2, true, 1, true, 1},
  };
  for (const Case& c : cases) {
    std::size_t budget = c.budget;
    EXPECT_EQ(try_split(budget, c.length, c.stolen, c.threads), c.splits)
        << c.budget << ' ' << c.length << ' ' << c.stolen << ' ' << c.threads;
    EXPECT_EQ(budget, c.budget_after);
  }
}

// Splitting a piece that never moves, as one thread would, gives about `threads` pieces per path.
std::size_t leaves(std::size_t length, std::size_t budget, std::size_t threads) {
  if (!try_split(budget, length, false, threads)) return 1;
  return leaves(length / 2, budget, threads) + leaves(length - length / 2, budget, threads);
}

TEST(TrySplit, ARangeNeverStolenEndsInAboutTwiceTheBudgetOfPieces) {
  EXPECT_EQ(leaves(1000000, 1, 1), 2u);
  EXPECT_EQ(leaves(1000000, 8, 8), 16u);
  EXPECT_EQ(leaves(1000000, 64, 64), 128u);
  EXPECT_EQ(leaves(5, 64, 64), 5u);  // down to single indices, never below
}

}  // namespace
}  // namespace tessary
