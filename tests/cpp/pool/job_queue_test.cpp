#include "pool/job_queue.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace tessary {
namespace {

void no_work(Job&, Worker&, bool) noexcept {}

std::vector<std::unique_ptr<Job>> make_jobs(std::size_t n) {
  std::vector<std::unique_ptr<Job>> jobs;
  for (std::size_t i = 0; i < n; ++i) jobs.push_back(std::make_unique<Job>(&no_work));
  return jobs;
}

TEST(JobDeque, OwnerTakesNewestOthersTakeOldest) {
  JobDeque deque;
  auto jobs = make_jobs(4);
  EXPECT_FALSE(deque.maybe_nonempty());
  for (auto& job : jobs) ASSERT_TRUE(deque.push(*job));
  EXPECT_TRUE(deque.maybe_nonempty());
  EXPECT_EQ(deque.take_oldest(), jobs[0].get());
  EXPECT_EQ(deque.pop_newest(), jobs[3].get());
  EXPECT_EQ(deque.take_oldest(), jobs[1].get());
  EXPECT_EQ(deque.pop_newest(), jobs[2].get());
  EXPECT_EQ(deque.pop_newest(), nullptr);
  EXPECT_EQ(deque.take_oldest(), nullptr);
  EXPECT_FALSE(deque.maybe_nonempty());
}

TEST(JobDeque, RefusesWhenFullAndWrapsAround) {
  JobDeque deque;
  auto jobs = make_jobs(JobDeque::CAPACITY + 1);
  for (std::size_t i = 0; i < JobDeque::CAPACITY; ++i) ASSERT_TRUE(deque.push(*jobs[i]));
  EXPECT_FALSE(deque.push(*jobs.back()));
  // Taking from the oldest end frees room that the newest end then reuses.
  EXPECT_EQ(deque.take_oldest(), jobs[0].get());
  EXPECT_EQ(deque.take_oldest(), jobs[1].get());
  ASSERT_TRUE(deque.push(*jobs.back()));
  EXPECT_EQ(deque.pop_newest(), jobs.back().get());
  EXPECT_EQ(deque.pop_newest(), jobs[JobDeque::CAPACITY - 1].get());
  EXPECT_EQ(deque.take_oldest(), jobs[2].get());
}

}  // namespace
}  // namespace tessary
