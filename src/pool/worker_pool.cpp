#include "pool/worker_pool.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <new>
#include <system_error>

#include "pool/caller_latch.h"
#include "pool/thread_count.h"
#include "records/panic.h"

namespace tessary {

struct alignas(64) Worker {
  WorkerPool* pool = nullptr;
  pthread_t thread{};
  JobDeque deque;
  std::uint64_t random_state = 0;  // picks the first worker to take work from
  std::condition_variable wake;    // used with the pool's sleep mutex
  bool woken = false;              // guarded by the pool's sleep mutex
};

namespace {

// How many fruitless searches an idle worker makes, yielding its processor after each, before it
// sleeps. Announced work, even when another worker takes it, starts the count again: the worker
// sleeps once the pool has been quiet for a while, and short calls that follow each other closely
// find their workers awake.
constexpr int SEARCHES_BEFORE_SLEEP = 64;

thread_local Worker* this_thread_worker = nullptr;

std::size_t next_random(std::uint64_t& state) {
  // xorshift64*: only spreads the choice of the first victim, quality hardly matters.
  state ^= state >> 12;
  state ^= state << 25;
  state ^= state >> 27;
  return static_cast<std::size_t>((state * 0x2545F4914F6CDD1DULL) >> 32);
}

std::string os_error_text(int number) {
  return std::system_category().message(number);
}

}  // namespace

std::size_t worker_stack_size(std::size_t requested, std::size_t page_size) {
  const std::size_t size = std::max<std::size_t>(requested, 8192);
  if (page_size <= 1) return size;
  return (size + page_size - 1) / page_size * page_size;
}

WorkerPool::WorkerPool(std::size_t thread_count) {
  std::string cause = start_workers(thread_count);
  if (!cause.empty()) panic(std::move(cause));
}

WorkerPool::WorkerPool(Unstarted) {}

std::unique_ptr<WorkerPool> WorkerPool::start(std::size_t thread_count, std::string& cause) {
  std::unique_ptr<WorkerPool> pool(new WorkerPool(Unstarted{}));
  cause = pool->start_workers(thread_count);
  if (!cause.empty()) pool.reset();
  return pool;
}

WorkerPool::~WorkerPool() {
  stop_workers();
}

std::string WorkerPool::start_workers(std::size_t thread_count) {
  thread_count_ = std::clamp<std::size_t>(thread_count, 1, MAX_THREADS);
  workers_ = std::make_unique<Worker[]>(thread_count_);
  asleep_.reserve(thread_count_);

  pthread_attr_t attributes;
  if (int error = pthread_attr_init(&attributes); error != 0) {
    return "could not prepare the worker threads: " + os_error_text(error);
  }
  const long page = sysconf(_SC_PAGESIZE);
  const std::size_t stack = worker_stack_size(WORKER_STACK_BYTES, page > 0 ? page : 1);
  std::string cause;
  if (int error = pthread_attr_setstacksize(&attributes, stack); error != 0) {
    cause = "could not set a worker stack size of " + std::to_string(stack) +
            " bytes: " + os_error_text(error);
  }
  for (std::size_t i = 0; cause.empty() && i < thread_count_; ++i) {
    Worker& worker = workers_[i];
    worker.pool = this;
    worker.random_state = 0x9E3779B97F4A7C15ULL * (i + 1);
    if (int error = pthread_create(&worker.thread, &attributes, &worker_main, &worker);
        error != 0) {
      cause = "could not start worker thread " + std::to_string(i + 1) + " of " +
              std::to_string(thread_count_) + ": " + os_error_text(error);
    } else {
      ++started_;
    }
  }
  pthread_attr_destroy(&attributes);
  if (!cause.empty()) stop_workers();
  return cause;
}

void WorkerPool::stop_workers() noexcept {
  stopping_.store(true, std::memory_order_seq_cst);
  {
    std::lock_guard<std::mutex> lock(sleep_mutex_);
    while (!asleep_.empty()) wake_locked(asleep_.begin());
  }
  for (std::size_t i = 0; i < started_; ++i) pthread_join(workers_[i].thread, nullptr);
  started_ = 0;
}

void* WorkerPool::worker_main(void* worker) noexcept {
  Worker& self = *static_cast<Worker*>(worker);
  self.pool->run_worker(self);
  return nullptr;
}

void WorkerPool::run_worker(Worker& self) noexcept {
  this_thread_worker = &self;
  // A new thread inherits its creator's name; workers are unnamed.
  pthread_setname_np(pthread_self(), "");
  work_until(self, nullptr);
}

Worker* WorkerPool::current_worker() const noexcept {
  Worker* worker = this_thread_worker;
  return worker != nullptr && worker->pool == this ? worker : nullptr;
}

bool WorkerPool::offer(Worker& self, Job& job) noexcept {
  job.owner = &self;
  if (!self.deque.push(job)) return false;
  announce_work();
  return true;
}

bool WorkerPool::take_back(Worker& self, Job& job) noexcept {
  for (;;) {
    Job* newest = self.deque.pop_newest();
    if (newest == &job) return true;
    if (newest == nullptr) return false;
    // Work offered after `job` is taken back before `job` is, so this does not happen; if it did,
    // running that work here is still correct.
    execute(self, *newest, false);
  }
}

void WorkerPool::wait_until_done(Worker& self, const Job& job) noexcept {
  work_until(self, &job.done);
}

void WorkerPool::inject(Job& job) noexcept {
  shared_.push(job);
  announce_work();
}

Job* WorkerPool::find_work(Worker& self, bool& moved) noexcept {
  moved = false;
  if (self.deque.maybe_nonempty()) {
    if (Job* job = self.deque.pop_newest()) return job;
  }
  moved = true;
  const std::size_t first = next_random(self.random_state) % thread_count_;
  for (std::size_t k = 0; k < thread_count_; ++k) {
    Worker& victim = workers_[(first + k) % thread_count_];
    if (&victim == &self || !victim.deque.maybe_nonempty()) continue;
    if (Job* job = victim.deque.take_oldest()) return job;
  }
  return shared_.maybe_nonempty() ? shared_.take() : nullptr;
}

void WorkerPool::execute(Worker& self, Job& job, bool moved) noexcept {
  // How completion is announced was fixed before the job was offered. A detached job announces it
  // itself at the end of run, after which it may be gone, so this is read first.
  CallerLatch* const latch = job.latch;
  Worker* const owner = job.owner;
  job.run(job, self, moved);
  if (latch != nullptr) {
    latch->set();
    return;
  }
  if (owner == nullptr) return;  // detached
  job.done.store(true, std::memory_order_seq_cst);
  if (asleep_count_.load(std::memory_order_seq_cst) != 0) wake(*owner);
}

void WorkerPool::work_until(Worker& self, const std::atomic<bool>* done) noexcept {
  int fruitless = 0;
  std::uint64_t previous_epoch = epoch_.load(std::memory_order_relaxed);
  for (;;) {
    if (done != nullptr ? done->load(std::memory_order_acquire)
                        : stopping_.load(std::memory_order_acquire)) {
      return;
    }
    // Read before searching: work announced after this point changes the epoch and keeps the
    // worker from sleeping through it.
    const std::uint64_t seen_epoch = epoch_.load(std::memory_order_seq_cst);
    if (seen_epoch != previous_epoch) fruitless = 0;
    previous_epoch = seen_epoch;
    bool moved = false;
    if (Job* job = find_work(self, moved)) {
      execute(self, *job, moved);
      fruitless = 0;
    } else if (fruitless < SEARCHES_BEFORE_SLEEP) {
      ++fruitless;
      sched_yield();
    } else {
      sleep(self, seen_epoch, done);
      fruitless = 0;
    }
  }
}

void WorkerPool::announce_work() noexcept {
  epoch_.fetch_add(1, std::memory_order_seq_cst);
  if (asleep_count_.load(std::memory_order_seq_cst) != 0) wake_one();
}

void WorkerPool::sleep(Worker& self, std::uint64_t seen_epoch,
                       const std::atomic<bool>* done) noexcept {
  std::unique_lock<std::mutex> lock(sleep_mutex_);
  self.woken = false;
  asleep_.push_back(&self);
  asleep_count_.fetch_add(1, std::memory_order_seq_cst);
  const bool news = epoch_.load(std::memory_order_seq_cst) != seen_epoch ||
                    stopping_.load(std::memory_order_seq_cst) ||
                    (done != nullptr && done->load(std::memory_order_seq_cst));
  if (news) {
    wake_locked(asleep_.end() - 1);
    return;
  }
  self.wake.wait(lock, [&self] { return self.woken; });
}

void WorkerPool::wake_one() noexcept {
  std::lock_guard<std::mutex> lock(sleep_mutex_);
  if (!asleep_.empty()) wake_locked(asleep_.end() - 1);
}

void WorkerPool::wake(Worker& worker) noexcept {
  std::lock_guard<std::mutex> lock(sleep_mutex_);
  auto found = std::find(asleep_.begin(), asleep_.end(), &worker);
  if (found != asleep_.end()) wake_locked(found);
}

void WorkerPool::wake_locked(std::vector<Worker*>::iterator sleeper) noexcept {
  Worker& worker = **sleeper;
  *sleeper = asleep_.back();
  asleep_.pop_back();
  asleep_count_.fetch_sub(1, std::memory_order_seq_cst);
  worker.woken = true;
  worker.wake.notify_one();
}

WorkerPool& get_or_start_pool(PoolOnce& once, PoolStarter start) {
  std::string cause;
  bool attempted_here = false;
  std::call_once(once.attempted, [&] {
    attempted_here = true;
    try {
      once.pool = start(cause);
    } catch (const std::bad_alloc&) {
      cause = "out of memory";
    }
  });
  if (once.pool) return *once.pool;
  if (!attempted_here) {
    cause = "the global pool was already initialised (its creation is attempted once per process)";
  }
  panic("The global thread pool has not been initialized.: " + cause);
}

namespace {

// The creation state of the process-wide pool. A child made by fork has none of the parent's
// threads, so nothing would ever run the work it hands in: the child abandons the parent's pool
// (whose locks its vanished threads may have held) and starts its own on its first call.
PoolOnce* g_pool_once = nullptr;

void start_afresh_in_child() noexcept {
  g_pool_once = new PoolOnce;
}

}  // namespace

WorkerPool& global_pool() {
  // Never destroyed: the pool and its threads live until the process ends.
  static const bool prepared = [] {
    g_pool_once = new PoolOnce;
    pthread_atfork(nullptr, nullptr, start_afresh_in_child);
    return true;
  }();
  (void)prepared;
  return get_or_start_pool(*g_pool_once, [](std::string& cause) {
    return WorkerPool::start(thread_count_from_environment(), cause);
  });
}

}  // namespace tessary
