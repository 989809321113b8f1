#include "pool/caller_latch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace tessary {
namespace {

using std::chrono::milliseconds;

TEST(CallerLatch, ReturnsOnceSetFromAnotherThreadAndCanBeReused) {
  CallerLatch& latch = CallerLatch::for_this_thread();
  EXPECT_EQ(&latch, &CallerLatch::for_this_thread());
  for (int delay_ms : {0, 30}) {
    std::atomic<bool> stop{false};
    std::atomic<bool> set_done{false};
    std::thread setter([&] {
      std::this_thread::sleep_for(milliseconds(delay_ms));
      set_done = true;
      latch.set();
    });
    EXPECT_EQ(latch.wait(nullptr, milliseconds(20), stop), nullptr);
    EXPECT_TRUE(set_done);
    EXPECT_FALSE(stop);
    EXPECT_FALSE(latch.waiting());
    setter.join();
  }
}

TEST(CallerLatch, PollsOnItsOwnThreadUntilThePollAsksToStop) {
  CallerLatch& latch = CallerLatch::for_this_thread();
  const auto caller = std::this_thread::get_id();
  std::atomic<bool> stop{false};
  int polls = 0;
  std::thread setter([&] {
    while (!stop) std::this_thread::sleep_for(milliseconds(1));
    latch.set();
  });
  auto poll = [&] {
    EXPECT_EQ(std::this_thread::get_id(), caller);
    EXPECT_TRUE(latch.waiting());
    return ++polls == 3;
  };
  EXPECT_EQ(latch.wait(poll, milliseconds(2), stop), nullptr);
  EXPECT_EQ(polls, 3);  // polling ends once it asked to stop
  EXPECT_TRUE(stop);
  setter.join();
}

TEST(CallerLatch, AFailingPollStopsPollingAndIsReturned) {
  CallerLatch& latch = CallerLatch::for_this_thread();
  std::atomic<bool> stop{false};
  int polls = 0;
  std::thread setter([&] {
    while (!stop) std::this_thread::sleep_for(milliseconds(1));
    std::this_thread::sleep_for(milliseconds(10));
    latch.set();
  });
  auto poll = [&]() -> bool {
    ++polls;
    throw std::runtime_error("poll failed");
  };
  std::exception_ptr failure = latch.wait(poll, milliseconds(1), stop);
  setter.join();
  ASSERT_NE(failure, nullptr);
  EXPECT_THROW(std::rethrow_exception(failure), std::runtime_error);
  EXPECT_EQ(polls, 1);
  EXPECT_TRUE(stop);
}

}  // namespace
}  // namespace tessary
