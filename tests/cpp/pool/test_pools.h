// Pools shared by the pool tests: one per thread count, started on first use and kept for the
// whole test run, so that tests do not pay for starting 64 threads again and again.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "pool/worker_pool.h"

namespace tessary::testing {

inline constexpr std::size_t THREAD_COUNTS[] = {1, 2, 3, 8, 64};

inline WorkerPool& pool_with(std::size_t threads) {
  static std::mutex mutex;
  static std::map<std::size_t, std::unique_ptr<WorkerPool>> pools;
  std::lock_guard<std::mutex> lock(mutex);
  auto& pool = pools[threads];
  if (!pool) pool = std::make_unique<WorkerPool>(threads);
  return *pool;
}

}  // namespace tessary::testing
