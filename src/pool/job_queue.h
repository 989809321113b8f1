// Jobs and the two kinds of queue the worker pool moves them through.
//
// A Job is a piece of work offered to other threads. It lives on the stack of the thread that
// offered it, which does not return before the job is complete, so queues hold plain pointers and
// never allocate. A worker's JobDeque is used at both ends: its owner offers and takes back at the
// newest end, other workers take from the oldest end. The SharedQueue takes work from threads that
// are not workers of the pool, first in, first out.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>

namespace tessary {

class CallerLatch;
struct Worker;

struct Job {
  // Does the work on `runner`. `stolen` is true when a thread other than the one that offered the
  // job runs it. Never throws: failures are kept in the job for the thread that offered it.
  using RunFn = void (*)(Job& job, Worker& runner, bool stolen) noexcept;

  explicit Job(RunFn run_fn) : run(run_fn) {}
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  RunFn run;
  // How completion is announced when another thread ran the job: through the latch of the caller
  // that handed it in from outside the pool, or else by `done`, which the offering worker `owner`
  // checks between other work.
  CallerLatch* latch = nullptr;
  Worker* owner = nullptr;
  std::atomic<bool> done{false};
  Job* next = nullptr;  // link inside the SharedQueue
};

// A worker's double-ended queue. Bounded: when it is full, push refuses and the owner runs the work
// itself, so offering never allocates. Thread-safe.
class JobDeque {
 public:
  static constexpr std::size_t CAPACITY = 256;

  bool push(Job& job);  // owner only; false when full
  Job* pop_newest();    // owner only; nullptr when empty
  Job* take_oldest();   // any thread; nullptr when empty
  // A hint for thieves, read without the lock: false means the deque was empty a moment ago.
  bool maybe_nonempty() const { return size_.load(std::memory_order_relaxed) != 0; }

 private:
  std::mutex mutex_;
  std::array<Job*, CAPACITY> ring_{};
  std::size_t oldest_ = 0;            // guarded by mutex_
  std::atomic<std::size_t> size_{0};  // written under mutex_
};

// Intrusive first-in first-out queue of jobs handed in from outside the pool. Thread-safe.
class SharedQueue {
 public:
  void push(Job& job);
  Job* take();  // nullptr when empty
  bool maybe_nonempty() const { return nonempty_.load(std::memory_order_relaxed); }

 private:
  std::mutex mutex_;
  Job* head_ = nullptr;  // guarded by mutex_
  Job* tail_ = nullptr;  // guarded by mutex_
  std::atomic<bool> nonempty_{false};
};

}  // namespace tessary
