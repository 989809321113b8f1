#include "pool/collect_indexed.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "pool/test_pools.h"
#include "base/panic.h"

namespace tessary {
namespace {

using std::chrono::milliseconds;
using testing::pool_with;
using testing::THREAD_COUNTS;

// A result that depends on the index alone, computed with a cost that varies a lot between
// indices, so that pieces finish out of order.
std::uint64_t uneven_work(std::size_t i) {
  const int rounds = i % 7 == 0 ? 3000 : static_cast<int>(i % 3) * 40;
  std::uint64_t x = i * 0x9E3779B97F4A7C15ULL + 1;
  for (int r = 0; r < rounds; ++r) {
    x ^= x >> 31;
    x *= 0xBF58476D1CE4E5B9ULL;
  }
  return x ^ i;
}

std::uint64_t expected_result(std::size_t i) {
  return uneven_work(i) + 1;  // never 0, the value of an empty slot
}

// Runs once per index: the test calls it from fn and counts each index's calls.
struct Calls {
  explicit Calls(std::size_t count) : per_index(count) {}
  std::uint64_t record(std::size_t i) {
    per_index[i].fetch_add(1, std::memory_order_relaxed);
    if (std::this_thread::get_id() == caller) on_caller.store(true);
    return expected_result(i);
  }
  std::vector<std::atomic<int>> per_index;
  std::thread::id caller = std::this_thread::get_id();
  std::atomic<bool> on_caller{false};
};

TEST(CollectIndexed, EverySlotHoldsItsIndexResultComputedOnceOnAWorker) {
  for (std::size_t threads : THREAD_COUNTS) {
    WorkerPool& pool = pool_with(threads);
    for (std::size_t count : {2, 3, 5, 64, 1000, 10007}) {
      Calls calls(count);
      std::vector<std::uint64_t> slots(count, 0);
      const CollectResult result = collect_indexed(
          pool, count, [&](std::size_t i) { return calls.record(i); },
          std::span<std::uint64_t>(slots));
      EXPECT_EQ(result.filled, count);
      EXPECT_FALSE(result.cancelled);
      EXPECT_FALSE(calls.on_caller) << "the waiting caller ran an index";
      for (std::size_t i = 0; i < count; ++i) {
        ASSERT_EQ(calls.per_index[i].load(), 1)
            << threads << " threads, count " << count << ", i " << i;
        ASSERT_EQ(slots[i], expected_result(i)) << threads << " threads, count " << count;
      }
    }
  }
}

TEST(CollectIndexed, CountsZeroAndOneRunOnTheCallingThread) {
  WorkerPool& pool = pool_with(8);
  for (std::size_t count : {0, 1}) {
    Calls calls(count);
    std::vector<std::uint64_t> slots(3, 0);  // longer than needed: the extra slots stay as they are
    const CollectResult result = collect_indexed(
        pool, count, [&](std::size_t i) { return calls.record(i); },
        std::span<std::uint64_t>(slots));
    EXPECT_EQ(result.filled, count);
    EXPECT_EQ(calls.on_caller.load(), count == 1);
    EXPECT_EQ(slots[0], count == 1 ? expected_result(0) : 0);
    EXPECT_EQ(slots[1], 0u);
  }
}

TEST(CollectIndexed, SlotsShorterThanTheCountAreRefused) {
  std::vector<int> slots(3);
  bool called = false;
  try {
    collect_indexed(
        pool_with(2), 4, [&](std::size_t) { return called = true, 1; }, std::span<int>(slots));
    ADD_FAILURE() << "no panic";
  } catch (const Panic& p) {
    EXPECT_EQ(p.message(), "too many values pushed to consumer");
  }
  EXPECT_FALSE(called);
}

TEST(CollectIndexed, ASplitOutsideThePieceIsAConsistencyPanic) {
  std::vector<int> slots(10);
  const collect_detail::Piece<int> piece{4, 10, std::span<int>(slots).first(5)};
  auto split_message = [&](std::size_t mid) -> std::string {
    try {
      collect_detail::split_piece(piece, mid);
    } catch (const Panic& p) {
      return p.message();
    }
    return "<no panic>";
  };
  EXPECT_EQ(split_message(7), "assertion failed: index <= self.range.len()");
  EXPECT_EQ(split_message(6), "assertion failed: index <= len");  // 6 indices but 5 slots
  const auto [left, right] = collect_detail::split_piece(piece, 2);
  EXPECT_EQ(left.end, 6u);
  EXPECT_EQ(right.begin, 6u);
  EXPECT_EQ(right.slots.data(), slots.data() + 2);
}

// Fails at indices 5 and 9. Index 5 is made slow, so that 9 usually fails first in time.
std::uint64_t fail_at_5_and_9(std::size_t i) {
  if (i == 5) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    throw Panic("failed at 5");
  }
  if (i == 9) throw Panic("failed at 9");
  return expected_result(i);
}

TEST(CollectIndexed, TheLowestFailingIndexIsReportedUnderEveryThreadCount) {
  for (std::size_t threads : THREAD_COUNTS) {
    WorkerPool& pool = pool_with(threads);
    for (int round = 0; round < 200; ++round) {
      for (std::size_t count : {10, 16, 300}) {
        std::vector<std::uint64_t> slots(count, 0);
        try {
          collect_indexed(pool, count, &fail_at_5_and_9, std::span<std::uint64_t>(slots));
          ADD_FAILURE() << "no panic";
        } catch (const Panic& p) {
          ASSERT_EQ(p.message(), "failed at 5") << threads << " threads, count " << count;
        }
        for (std::size_t i = 5; i < count; ++i) ASSERT_EQ(slots[i], 0u) << "slot " << i;
      }
    }
  }
}

TEST(CollectIndexed, ExceptionsKeepTheirType) {
  for (std::size_t threads : {1, 3}) {
    std::vector<int> slots(100);
    auto out_of_memory = [](std::size_t i) -> int {
      if (i == 70) throw std::bad_alloc();
      return 1;
    };
    EXPECT_THROW(collect_indexed(pool_with(threads), 100, out_of_memory, std::span<int>(slots)),
                 std::bad_alloc);
    // On the calling thread, too.
    EXPECT_THROW(collect_indexed(
                     pool_with(threads), 1, [](std::size_t) -> int { throw std::bad_alloc(); },
                     std::span<int>(slots)),
                 std::bad_alloc);
  }
}

// A heap object that counts how many of its kind are alive.
struct Counted {
  static inline std::atomic<int> alive{0};
  Counted() { alive.fetch_add(1); }
  ~Counted() { alive.fetch_sub(1); }
};

TEST(CollectIndexed, TheResultsOfAFailedCallAreReleased) {
  for (std::size_t threads : THREAD_COUNTS) {
    std::vector<std::unique_ptr<Counted>> slots(500);
    auto make = [](std::size_t i) {
      if (i == 37 || i == 401) throw Panic("no object " + std::to_string(i));
      return std::make_unique<Counted>();
    };
    EXPECT_THROW(collect_indexed(pool_with(threads), slots.size(), make,
                                 std::span<std::unique_ptr<Counted>>(slots)),
                 Panic);
    int held = 0;
    for (std::size_t i = 0; i < slots.size(); ++i) {
      if (slots[i]) ++held;
      if (i >= 37) {
        ASSERT_EQ(slots[i], nullptr) << threads << " threads, slot " << i;
      }
    }
    EXPECT_EQ(Counted::alive.load(), held) << "results were lost rather than released";
    slots.clear();
    EXPECT_EQ(Counted::alive.load(), 0);
  }
}

TEST(CollectIndexed, ACancelFlagStopsThePiecesAndReportsCancelled) {
  for (std::size_t threads : THREAD_COUNTS) {
    WorkerPool& pool = pool_with(threads);
    std::atomic<bool> cancel{false};
    std::atomic<int> running{0};
    std::vector<std::unique_ptr<Counted>> slots(2000);
    auto work = [&](std::size_t i) {
      running.fetch_add(1);
      if (i == 0) cancel = true;  // index 0's piece stops at index 1 at the latest
      std::this_thread::sleep_for(std::chrono::microseconds(50));
      running.fetch_sub(1);
      return std::make_unique<Counted>();
    };
    CollectControl control;
    control.cancel = &cancel;
    const CollectResult result = collect_indexed(
        pool, slots.size(), work, std::span<std::unique_ptr<Counted>>(slots), control);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.filled, 0u);
    EXPECT_EQ(running.load(), 0) << "returned before every piece had stopped";
    for (const auto& slot : slots) ASSERT_EQ(slot, nullptr);
    EXPECT_EQ(Counted::alive.load(), 0);
  }
}

TEST(CollectIndexed, AFlagSetBeforeTheCallComputesNothing) {
  std::atomic<bool> cancel{true};
  CollectControl control;
  control.cancel = &cancel;
  for (std::size_t count : {1, 50}) {
    std::vector<int> slots(count);
    bool called = false;
    const CollectResult result = collect_indexed(
        pool_with(2), count, [&](std::size_t) { return called = true, 1; }, std::span<int>(slots),
        control);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.filled, 0u);
    EXPECT_FALSE(called);
  }
}

TEST(CollectIndexed, AFailureBelowTheCancelledIndicesIsStillRaised) {
  std::atomic<bool> cancel{false};
  std::atomic<bool> zero_failed{false};
  CollectControl control;
  control.cancel = &cancel;
  std::vector<int> slots(1000);
  auto work = [&](std::size_t i) {
    if (i == 0) {
      zero_failed = true;
      throw Panic("failed at 0");
    }
    while (!zero_failed) std::this_thread::yield();
    cancel = true;  // every other index is cancelled after index 0 has failed
    return 1;
  };
  for (std::size_t threads : THREAD_COUNTS) {
    cancel = false;
    zero_failed = false;
    EXPECT_THROW(
        collect_indexed(pool_with(threads), slots.size(), work, std::span<int>(slots), control),
        Panic);
  }
}

// Waits, on a worker, until the caller's poll has asked to stop; then the remaining indices take
// long enough that the stop is seen long before they could all finish.
struct PollScenario {
  std::atomic<int> polls{0};
  std::atomic<bool> poll_asked_to_stop{false};
  std::thread::id caller = std::this_thread::get_id();
  std::atomic<bool> polled_elsewhere{false};

  int work(std::size_t) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!poll_asked_to_stop && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(milliseconds(1));
    }
    std::this_thread::sleep_for(milliseconds(2));
    return 1;
  }
  void note_poll() {
    if (std::this_thread::get_id() != caller) polled_elsewhere = true;
    polls.fetch_add(1);
  }
};

TEST(CollectIndexed, APollThatAsksToStopCancelsTheCall) {
  for (std::size_t threads : {1, 3}) {
    PollScenario scenario;
    CollectControl control;
    control.poll_interval = milliseconds(2);
    control.poll = [&] {
      scenario.note_poll();
      if (scenario.polls < 3) return false;
      scenario.poll_asked_to_stop = true;
      return true;
    };
    std::vector<int> slots(200);
    const CollectResult result = collect_indexed(
        pool_with(threads), slots.size(), [&](std::size_t i) { return scenario.work(i); },
        std::span<int>(slots), control);
    EXPECT_TRUE(result.cancelled);
    EXPECT_LT(result.filled, slots.size());
    EXPECT_EQ(scenario.polls.load(), 3);
    EXPECT_FALSE(scenario.polled_elsewhere);
  }
}

TEST(CollectIndexed, APollThatThrowsCancelsTheCallAndItsExceptionIsRaised) {
  PollScenario scenario;
  CollectControl control;
  control.poll_interval = milliseconds(1);
  control.poll = [&]() -> bool {
    scenario.poll_asked_to_stop = true;
    throw Panic("poll failed");
  };
  std::vector<int> slots(200);
  try {
    collect_indexed(
        pool_with(2), slots.size(), [&](std::size_t i) { return scenario.work(i); },
        std::span<int>(slots), control);
    ADD_FAILURE() << "no panic";
  } catch (const Panic& p) {
    EXPECT_EQ(p.message(), "poll failed");
  }
}

TEST(CollectIndexed, ACallFromThePollCallbackIsRefused) {
  WorkerPool& pool = pool_with(2);
  std::atomic<bool> polled{false};
  std::string refusal;
  bool seen_waiting = false;
  CollectControl control;
  control.poll_interval = milliseconds(1);
  control.poll = [&] {
    if (polled) return false;
    seen_waiting = collect_indexed_waiting_on_this_thread();
    std::vector<int> inner(0);
    try {
      collect_indexed(
          pool, 0, [](std::size_t) { return 1; }, std::span<int>(inner));
    } catch (const Panic& p) {
      refusal = p.message();
    }
    polled = true;
    return false;
  };
  std::vector<int> slots(4);
  auto work = [&](std::size_t) {
    while (!polled) std::this_thread::sleep_for(milliseconds(1));
    return 1;
  };
  const CollectResult result =
      collect_indexed(pool, slots.size(), work, std::span<int>(slots), control);
  EXPECT_EQ(result.filled, slots.size());
  EXPECT_TRUE(seen_waiting);
  EXPECT_EQ(refusal, "collect_indexed called re-entrantly while a call of this thread is waiting");
  EXPECT_FALSE(collect_indexed_waiting_on_this_thread());
}

TEST(CollectIndexed, NestedCallsOnAWorkerComplete) {
  for (std::size_t threads : {1, 2, 3}) {
    WorkerPool& pool = pool_with(threads);
    std::vector<std::uint64_t> outer(40);
    auto row_sum = [&pool](std::size_t row) {
      std::vector<std::uint64_t> inner(100);
      collect_indexed(
          pool, inner.size(), [row](std::size_t i) { return expected_result(row * 100 + i); },
          std::span<std::uint64_t>(inner));
      std::uint64_t sum = 0;
      for (std::uint64_t v : inner) sum += v;
      return sum;
    };
    collect_indexed(pool, outer.size(), row_sum, std::span<std::uint64_t>(outer));
    for (std::size_t row = 0; row < outer.size(); ++row) {
      std::uint64_t sum = 0;
      for (std::size_t i = 0; i < 100; ++i) sum += expected_result(row * 100 + i);
      ASSERT_EQ(outer[row], sum) << threads << " threads, row " << row;
    }
  }
}

TEST(CollectIndexed, CallersOnSeveralThreadsShareAPool) {
  WorkerPool& pool = pool_with(3);
  std::vector<std::vector<std::uint64_t>> results(4, std::vector<std::uint64_t>(3000));
  std::vector<std::thread> callers;
  for (auto& slots : results) {
    callers.emplace_back([&pool, &slots] {
      for (int round = 0; round < 5; ++round) {
        collect_indexed(pool, slots.size(), &expected_result, std::span<std::uint64_t>(slots));
      }
    });
  }
  for (std::thread& caller : callers) caller.join();
  for (const auto& slots : results) {
    for (std::size_t i = 0; i < slots.size(); ++i) ASSERT_EQ(slots[i], expected_result(i));
  }
}

}  // namespace
}  // namespace tessary
