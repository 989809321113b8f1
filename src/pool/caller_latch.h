// The wait latch of a thread that hands work to the pool from outside it.
//
// Each such thread owns one latch (a mutex, a condition variable and a set flag), created on the
// thread's first use and reused for every later call. The thread arms it, hands its work in and
// waits; the worker that completes the work sets it. The waiting thread does not help with the
// work: it checks the flag for a short while (a pool round trip is much shorter than a sleep and
// wake-up) and then blocks on the condition variable.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>

namespace tessary {

class CallerLatch {
 public:
  // This thread's latch. Requires: not called from inside a latch's own wait.
  static CallerLatch& for_this_thread();

  // True while this latch's thread is inside wait(), for instance while it runs the poll callback.
  bool waiting() const { return waiting_; }

  // How a wait ended.
  struct WaitEnd {
    std::exception_ptr poll_failure;  // what poll threw, if anything
    // The process is a child forked during the wait (by the poll callback, for instance from a
    // signal handler). The threads that would set the latch exist only in the parent, so the
    // child's wait was abandoned instead; the latch was made anew and may be used again.
    bool forked_child = false;
  };

  // Waits until set() has been called. When `poll` is given it is called on this thread every
  // `interval` while the wait lasts, until it returns true or throws; either one stores true into
  // `stop_requested`, after which polling ends and the wait goes on. The latch is reset on return
  // and may be used again. Only this latch's thread waits.
  WaitEnd wait(const std::function<bool()>& poll, std::chrono::milliseconds interval,
               std::atomic<bool>& stop_requested) noexcept;

  // Wakes the waiting thread. Thread-safe; after it returns, the latch is not touched again.
  void set() noexcept;

 private:
  CallerLatch() = default;
  void make_anew_in_child() noexcept;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::atomic<bool> set_{false};
  bool waiting_ = false;  // only used by the latch's own thread
};

}  // namespace tessary
