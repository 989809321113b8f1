#include "pipeline/ordered_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "pool/test_pools.h"
#include "base/panic.h"

namespace tessary {
namespace {

using testing::pool_with;
using testing::THREAD_COUNTS;

// A pause that varies a lot between blocks, so that later blocks often finish before earlier ones.
void uneven_pause(std::uint64_t block) {
  std::this_thread::sleep_for(std::chrono::microseconds(block % 7 == 0 ? 300 : (block % 3) * 20));
}

// The slots' storage and what the builds saw: the block each slot holds, the slot the caller is
// reading (a build into it would overwrite what the caller reads), and the blocks in flight.
struct Slots {
  explicit Slots(std::size_t capacity) : block(capacity) {}
  std::vector<std::uint64_t> block;
  std::atomic<std::size_t> held{SIZE_MAX};
  std::atomic<std::size_t> in_flight{0}, most_in_flight{0};
  std::atomic<bool> built_into_held{false};

  OrderedWindow::Build build(std::uint64_t failing_from = UINT64_MAX) {
    return [this, failing_from](std::uint64_t b, std::size_t slot) {
      const std::size_t now = ++in_flight;
      for (std::size_t most = most_in_flight; now > most && !most_in_flight.compare_exchange_weak(most, now);) {
      }
      if (held == slot) built_into_held = true;
      uneven_pause(b);
      block[slot] = b;
      --in_flight;
      if (b >= failing_from && b % 5 == 0) {
        QuietPanics quiet;  // no report for every one of the expected failures
        panic("block " + std::to_string(b));
      }
    };
  }
};

TEST(OrderedWindow, HandsOutEveryBlockInOrderWithinItsCapacity) {
  constexpr std::uint64_t blocks = 400;
  for (std::size_t threads : THREAD_COUNTS) {
    for (std::size_t capacity : {std::size_t{1}, std::size_t{3}, window_capacity(pool_with(threads))}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, capacity " + std::to_string(capacity));
      Slots slots(capacity);
      OrderedWindow window(pool_with(threads), blocks, capacity, slots.build());
      for (std::uint64_t expected = 0; expected < blocks; ++expected) {
        slots.held = SIZE_MAX;  // the caller is done with the previous slot
        const OrderedWindow::Next next = window.next();
        ASSERT_EQ(next.status, OrderedWindow::Status::Ready);
        ASSERT_EQ(next.block, expected);
        slots.held = next.slot;
        ASSERT_EQ(slots.block[next.slot], expected);  // built, and not yet replaced
        if (expected % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(slots.block[next.slot], expected);  // still there while the caller reads it
      }
      EXPECT_EQ(window.next().status, OrderedWindow::Status::End);
      EXPECT_FALSE(slots.built_into_held);
      EXPECT_LE(slots.most_in_flight, capacity);
    }
  }
}

TEST(OrderedWindow, TheLowestFailingBlockIsReportedWhateverFinishesFirst) {
  // Blocks 215, 220, 225, ... fail; with many threads the later ones often fail first.
  for (std::size_t threads : THREAD_COUNTS) {
    for (int round = 0; round < 3; ++round) {
      SCOPED_TRACE(std::to_string(threads) + " threads");
      Slots slots(window_capacity(pool_with(threads)));
      OrderedWindow window(pool_with(threads), 400, slots.block.size(), slots.build(211));
      std::uint64_t handed_out = 0;
      try {
        for (;;) {
          const OrderedWindow::Next next = window.next();
          ASSERT_EQ(next.status, OrderedWindow::Status::Ready);
          ASSERT_EQ(next.block, handed_out++);
        }
      } catch (const Panic& failure) {
        EXPECT_EQ(failure.message(), "block 215");
      }
      EXPECT_EQ(handed_out, 215u);  // everything before the failing block, nothing after
      EXPECT_EQ(window.next().status, OrderedWindow::Status::Stopped);
    }
  }
}

TEST(OrderedWindow, APollThatAsksToStopEndsTheWaitAndStartsNothingMore) {
  Slots slots(window_capacity(pool_with(8)));
  std::atomic<std::uint64_t> started{0};
  OrderedWindow window(pool_with(8), 1'000'000, slots.block.size(),
                       [&](std::uint64_t, std::size_t) {
                         ++started;
                         std::this_thread::sleep_for(std::chrono::milliseconds(2));
                       });
  CollectControl control;
  control.poll_interval = std::chrono::milliseconds(1);
  int polls = 0;
  control.poll = [&] { return ++polls == 3; };
  OrderedWindow::Status status = OrderedWindow::Status::Ready;
  while (status == OrderedWindow::Status::Ready) status = window.next(control).status;
  EXPECT_EQ(status, OrderedWindow::Status::Stopped);
  EXPECT_EQ(window.next().status, OrderedWindow::Status::Stopped);
  EXPECT_LT(started, 1000u);
}

}  // namespace
}  // namespace tessary
