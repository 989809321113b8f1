// The worker pool: a fixed set of threads that run the jobs offered on their queues.
//
// Each worker owns a JobDeque; threads that are not workers hand work in through the SharedQueue.
// An idle worker looks for work in this order: the newest job on its own deque, the oldest job on
// another worker's deque (trying them in turn from a randomly chosen one), the shared queue. When
// there is none it keeps looking for a short while, yielding its processor, and then sleeps until
// new work is announced, so an idle pool uses no processor time.
//
// collect_indexed (collect_indexed.h) splits its index range into jobs with the operations in the
// second half of the class; the ordered window (pipeline/ordered_window.h) hands in detached jobs.
// global_pool() is the process-wide instance.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pool/job_queue.h"

namespace tessary {

inline constexpr std::size_t WORKER_STACK_BYTES = 2097152;

// The stack size a worker is created with: at least 8192 bytes, rounded up to whole pages.
std::size_t worker_stack_size(std::size_t requested, std::size_t page_size);

class WorkerPool {
 public:
  // Starts max(1, min(thread_count, MAX_THREADS)) unnamed workers with WORKER_STACK_BYTES stacks.
  // Panics with the cause when a thread cannot be started (the started ones are stopped first).
  explicit WorkerPool(std::size_t thread_count);
  // The same, but a failure returns nullptr and its description in `cause`.
  static std::unique_ptr<WorkerPool> start(std::size_t thread_count, std::string& cause);
  // Stops and joins the workers. Requires: no call is using the pool.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  std::size_t thread_count() const noexcept { return thread_count_; }

  // --- The operations its users build on. `self` is always current_worker(). ---

  // This thread's worker when the thread is a worker of this pool, else nullptr.
  Worker* current_worker() const noexcept;
  // Offers `job` on self's deque and announces it. False when the deque is full: the job was not
  // offered and the caller runs it itself.
  bool offer(Worker& self, Job& job) noexcept;
  // Called once the work done since offering `job` is finished. True when `job` was taken back
  // from self's deque, so that no other thread will run it; false when another thread took it.
  bool take_back(Worker& self, Job& job) noexcept;
  // Runs other work until `job` (taken by another thread) is done, sleeping when there is none.
  void wait_until_done(Worker& self, const Job& job) noexcept;
  // Hands in `job` from any thread, to be run by a worker. Either its `latch` is set (the latch of
  // a caller that waits for it), or the job is detached: latch and owner are null and the job's
  // run function announces its own completion as its last act (the pool does not touch a detached
  // job after run returns).
  void inject(Job& job) noexcept;

 private:
  struct Unstarted {};
  explicit WorkerPool(Unstarted);
  std::string start_workers(std::size_t thread_count);
  void stop_workers() noexcept;
  static void* worker_main(void* worker) noexcept;
  void run_worker(Worker& self) noexcept;

  Job* find_work(Worker& self, bool& moved) noexcept;
  void execute(Worker& self, Job& job, bool moved) noexcept;
  // Looks for work until `done` (when given) or the pool stops; runs what it finds.
  void work_until(Worker& self, const std::atomic<bool>* done) noexcept;
  void announce_work() noexcept;
  void sleep(Worker& self, std::uint64_t seen_epoch, const std::atomic<bool>* done) noexcept;
  void wake_one() noexcept;
  void wake(Worker& worker) noexcept;
  void wake_locked(std::vector<Worker*>::iterator sleeper) noexcept;

  std::size_t thread_count_ = 0;
  std::unique_ptr<Worker[]> workers_;
  std::size_t started_ = 0;
  SharedQueue shared_;
  std::atomic<bool> stopping_{false};

  // Sleeping: a worker puts itself into `asleep_` and counts itself in `asleep_count_` before it
  // checks, under `sleep_mutex_`, that nothing it waits for has happened. A thread that announces
  // work advances `epoch_` before it reads `asleep_count_` (a thief that completes a job sets the
  // job's flag first), so either the sleeper sees the news or the announcer sees the sleeper; both
  // sides use sequentially consistent operations. A worker that is woken is taken out of the count
  // by its waker, so announcers lock nothing while no worker is actually asleep.
  std::atomic<std::uint64_t> epoch_{0};
  std::atomic<std::size_t> asleep_count_{0};
  std::mutex sleep_mutex_;
  std::vector<Worker*> asleep_;  // guarded by sleep_mutex_; capacity reserved for every worker
};

// The process-wide pool, created on first use with thread_count_from_environment() workers and
// never shut down. Creation is attempted once per process: when it fails, this and every later
// call panic with "The global thread pool has not been initialized.: " and the cause. A child
// process made by fork starts a pool of its own on its first call. Thread-safe.
WorkerPool& global_pool();

// The once-only creation behind global_pool(), kept apart from the process-wide state so that a
// failing start can be tested. `start` returns the pool, or nullptr with the cause.
struct PoolOnce {
  std::once_flag attempted;
  std::unique_ptr<WorkerPool> pool;
};
using PoolStarter = std::unique_ptr<WorkerPool> (*)(std::string& cause);
WorkerPool& get_or_start_pool(PoolOnce& once, PoolStarter start);

}  // namespace tessary
