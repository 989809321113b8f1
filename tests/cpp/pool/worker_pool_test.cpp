#include "pool/worker_pool.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <time.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "pool/collect_indexed.h"
#include "pool/test_pools.h"
#include "base/panic.h"

namespace tessary {
namespace {

TEST(WorkerStackSize, AtLeast8192BytesInWholePages) {
  struct Case {
    std::size_t requested, page, expected;
  };
  const std::vector<Case> cases = {
      {WORKER_STACK_BYTES, 4096, 2097152},
      {WORKER_STACK_BYTES, 65536, 2097152},
      {WORKER_STACK_BYTES, 1, 2097152},
      {100, 4096, 8192},
      {0, 1, 8192},
      {8193, 4096, 12288},
      {10000, 3000, 12000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(worker_stack_size(c.requested, c.page), c.expected) << c.requested << ' ' << c.page;
  }
}

TEST(WorkerPool, ThreadCountIsKeptWithinOneTo65535) {
  EXPECT_EQ(testing::started_pool(0)->thread_count(), 1u);
  EXPECT_EQ(testing::started_pool(5)->thread_count(), 5u);
  std::string cause;
  auto pool = WorkerPool::start(2, cause);
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(cause, "");
  EXPECT_EQ(pool->thread_count(), 2u);
}

// What a worker sees of its own thread.
struct ThreadFacts {
  std::string name;
  std::size_t stack_bytes = 0;
  bool is_worker = false;
};

TEST(WorkerPool, WorkersAreUnnamedWithTwoMebibyteStacks) {
  WorkerPool& pool = testing::pool_with(3);
  std::vector<ThreadFacts> facts(64);
  auto inspect = [&pool](std::size_t) {
    ThreadFacts f;
    char name[32] = "";
    f.name = pthread_getname_np(pthread_self(), name, sizeof name) == 0 ? name : "<unknown>";
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
      pthread_attr_getstacksize(&attributes, &f.stack_bytes);
      pthread_attr_destroy(&attributes);
    }
    f.is_worker = pool.current_worker() != nullptr;
    return f;
  };
  collect_indexed(pool, facts.size(), inspect, std::span<ThreadFacts>(facts));
  for (const ThreadFacts& f : facts) {
    EXPECT_TRUE(f.is_worker);
    EXPECT_EQ(f.name, "");
    EXPECT_EQ(f.stack_bytes, WORKER_STACK_BYTES);
  }
  EXPECT_EQ(pool.current_worker(), nullptr);  // the test's thread is none of its workers
}

double process_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

TEST(WorkerPool, IdleWorkersSleep) {
  const std::unique_ptr<WorkerPool> pool = testing::started_pool(4);
  std::vector<int> slots(1000);
  collect_indexed(
      *pool, slots.size(), [](std::size_t i) { return static_cast<int>(i); }, std::span<int>(slots));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // past the short search for work
  const double before = process_cpu_seconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_LT(process_cpu_seconds() - before, 0.02) << "idle workers use the processor";
}

std::unique_ptr<WorkerPool> failing_start(std::string& cause) {
  cause = "no threads today";
  return nullptr;
}

std::unique_ptr<WorkerPool> one_thread_start(std::string& cause) {
  return WorkerPool::start(1, cause);
}

std::string panic_message_of(PoolOnce& once, PoolStarter start) {
  try {
    get_or_start_pool(once, start);
  } catch (const Panic& p) {
    return p.message();
  }
  return "<no panic>";
}

TEST(GetOrStartPool, AFailedStartIsNotRetried) {
  PoolOnce once;
  EXPECT_EQ(panic_message_of(once, &failing_start),
            "The global thread pool has not been initialized.: no threads today");
  // A later call neither retries nor repeats the first cause, even with a starter that works.
  EXPECT_EQ(panic_message_of(once, &one_thread_start),
            "The global thread pool has not been initialized.: the global pool was already "
            "initialised (its creation is attempted once per process)");
}

TEST(GetOrStartPool, StartsOnceAndReturnsTheSamePool) {
  PoolOnce once;
  WorkerPool& first = get_or_start_pool(once, &one_thread_start);
  EXPECT_EQ(&get_or_start_pool(once, &failing_start), &first);
}

TEST(GlobalPool, IsOneInstanceSizedFromTheEnvironment) {
  WorkerPool& pool = global_pool();
  EXPECT_EQ(&global_pool(), &pool);
  EXPECT_GE(pool.thread_count(), 1u);
  EXPECT_LE(pool.thread_count(), 65535u);
}

}  // namespace
}  // namespace tessary
