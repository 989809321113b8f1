#include "pool/caller_latch.h"

#include <sched.h>
#include <unistd.h>

#include <new>

namespace tessary {
namespace {

// How long the waiting thread checks the flag before it blocks: about as long as a short call
// takes (a block and wake-up costs several microseconds, more than such a call). It checks with
// the processor's spin-wait hint and gives its processor away now and then, in case the worker it
// waits for shares that processor; a call that takes longer pays this once, some 100 microseconds.
constexpr int CHECKS_BEFORE_BLOCKING = 6400;
constexpr int CHECKS_PER_YIELD = 64;

void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

}  // namespace

CallerLatch& CallerLatch::for_this_thread() {
  static thread_local CallerLatch latch;
  return latch;
}

CallerLatch::WaitEnd CallerLatch::wait(const std::function<bool()>& poll,
                                       std::chrono::milliseconds interval,
                                       std::atomic<bool>& stop_requested) noexcept {
  waiting_ = true;
  for (int i = 1; i <= CHECKS_BEFORE_BLOCKING && !set_.load(std::memory_order_acquire); ++i) {
    if (i % CHECKS_PER_YIELD == 0) {
      sched_yield();
    } else {
      cpu_relax();
    }
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
    const pid_t process = getpid();
    try {
      polling = !poll();
    } catch (...) {
      poll_failure = std::current_exception();
      polling = false;
    }
    if (getpid() != process) {
      lock.release();  // the mutex is made anew, not unlocked
      make_anew_in_child();
      return {poll_failure, true};
    }
    if (!polling) stop_requested.store(true, std::memory_order_relaxed);
    lock.lock();
  }
  wake_.wait(lock, [this] { return set_.load(std::memory_order_acquire); });
  // Taking the lock above also waited for set() to release it, so the latch is free to reuse.
  set_.store(false, std::memory_order_relaxed);
  waiting_ = false;
  return {poll_failure, false};
}

// A vanished thread may have held the mutex at the fork, so the old state is not destroyed (nor
// unlocked) but overwritten.
void CallerLatch::make_anew_in_child() noexcept {
  new (&mutex_) std::mutex;
  new (&wake_) std::condition_variable;
  set_.store(false, std::memory_order_relaxed);
  waiting_ = false;
}

void CallerLatch::set() noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  set_.store(true, std::memory_order_release);
  wake_.notify_one();
}

}  // namespace tessary
