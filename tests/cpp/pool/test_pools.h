// Pools shared by the pool tests: one per thread count, started on first use and kept for the
// whole test run, so that tests do not pay for starting 64 threads again and again.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "pool/worker_pool.h"

namespace tessary::testing {

inline constexpr std::size_t THREAD_COUNTS[] = {1, 2, 3, 8, 64};

// A pool of its own; a pool that cannot be started fails the test (or benchmark) that asked for it.
inline std::unique_ptr<WorkerPool> started_pool(std::size_t threads) {
  std::string cause;
  std::unique_ptr<WorkerPool> pool = WorkerPool::start(threads, cause);
  if (!pool) throw std::runtime_error("cannot start a pool: " + cause);
  return pool;
}

inline WorkerPool& pool_with(std::size_t threads) {
  static std::mutex mutex;
  static std::map<std::size_t, std::unique_ptr<WorkerPool>> pools;
  std::lock_guard<std::mutex> lock(mutex);
  auto& pool = pools[threads];
  if (!pool) pool = started_pool(threads);
  return *pool;
}

}  // namespace tessary::testing
