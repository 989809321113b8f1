#include "pool/caller_latch.h"

#include <sched.h>

namespace tessary {
namespace {

// How many times the waiting thread looks at the flag, yielding its processor in between, before
// it blocks. About as long as a short call takes; a longer call pays this once.
constexpr int CHECKS_BEFORE_BLOCKING = 200;

}  // namespace

CallerLatch& CallerLatch::for_this_thread() {
  static thread_local CallerLatch latch;
  return latch;
}

std::exception_ptr CallerLatch::wait(const std::function<bool()>& poll,
                                     std::chrono::milliseconds interval,
                                     std::atomic<bool>& stop_requested) noexcept {
  waiting_ = true;
  for (int i = 0; i < CHECKS_BEFORE_BLOCKING && !set_.load(std::memory_order_acquire); ++i) {
    sched_yield();
  }
  std::exception_ptr poll_failure;
  std::unique_lock<std::mutex> lock(mutex_);
  bool polling = static_cast<bool>(poll);
  while (polling && !set_.load(std::memory_order_acquire)) {
    if (wake_.wait_for(lock, interval) == std::cv_status::no_timeout) continue;
    if (set_.load(std::memory_order_acquire)) break;
    // The callback may take its time or fail; the worker that completes the work must not wait
    // for it, so it runs without the lock.
    lock.unlock();
    try {
      polling = !poll();
    } catch (...) {
      poll_failure = std::current_exception();
      polling = false;
    }
    if (!polling) stop_requested.store(true, std::memory_order_relaxed);
    lock.lock();
  }
  wake_.wait(lock, [this] { return set_.load(std::memory_order_acquire); });
  // Taking the lock above also waited for set() to release it, so the latch is free to reuse.
  set_.store(false, std::memory_order_relaxed);
  waiting_ = false;
  return poll_failure;
}

void CallerLatch::set() noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  set_.store(true, std::memory_order_release);
  wake_.notify_one();
}

}  // namespace tessary
