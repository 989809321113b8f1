#include "pipeline/ordered_window.h"

#include <unistd.h>

#include <chrono>

#include "base/assert.h"
#include "base/panic.h"

namespace tessary {

struct OrderedWindow::SlotJob : Job {
  SlotJob() : Job(&OrderedWindow::run_job) {}

  OrderedWindow* window = nullptr;
  std::size_t slot = 0;
  std::uint64_t block = 0;
  std::exception_ptr failure;
  bool finished = false;  // guarded by the window's mutex
};

std::size_t window_capacity(const WorkerPool& pool) {
  return 3 * pool.thread_count() + 1;
}

OrderedWindow::OrderedWindow(WorkerPool& pool, std::uint64_t block_count, std::size_t capacity,
                             Build build)
    : pool_(pool),
      block_count_(block_count),
      capacity_(capacity == 0 ? 1 : capacity),
      build_(std::move(build)),
      creator_(getpid()),
      jobs_(std::make_unique<SlotJob[]>(capacity_)) {
  TESSARY_ASSERT(capacity >= 1);
  for (std::size_t s = 0; s < capacity_; ++s) {
    jobs_[s].window = this;
    jobs_[s].slot = s;
  }
}

OrderedWindow::~OrderedWindow() {
  cancel();
  // In a child made by fork, the blocks in flight belong to threads that do not exist here.
  if (getpid() != creator_) return;
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [this] { return in_flight_ == 0; });
}

void OrderedWindow::run_job(Job& job, Worker&, bool) noexcept {
  SlotJob& slot_job = static_cast<SlotJob&>(job);
  OrderedWindow& window = *slot_job.window;
  if (!window.cancelled_.load(std::memory_order_relaxed)) {
    try {
      window.build_(slot_job.block, slot_job.slot);
    } catch (...) {
      slot_job.failure = std::current_exception();
    }
  }
  // The last act: once the lock is released the window may be gone. Notifying under the lock
  // keeps the condition variable alive until then.
  std::lock_guard<std::mutex> lock(window.mutex_);
  slot_job.finished = true;
  --window.in_flight_;
  window.finished_.notify_all();
}

void OrderedWindow::start(std::size_t slot, std::uint64_t block) {
  SlotJob& job = jobs_[slot];
  job.block = block;
  job.failure = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job.finished = false;
    ++in_flight_;
  }
  pool_.inject(job);
}

bool OrderedWindow::stopped(const CollectControl& control) const noexcept {
  return failed_ || cancelled_.load(std::memory_order_relaxed) ||
         (control.cancel != nullptr && control.cancel->load(std::memory_order_relaxed));
}

OrderedWindow::Next OrderedWindow::next(const CollectControl& control) {
  // A worker waiting here for blocks that other workers build could hold up the pool.
  TESSARY_ASSERT(pool_.current_worker() == nullptr);
  if (holding_) {
    // The caller is done with the previous block's slot: it builds a later block now.
    holding_ = false;
    if (next_start_ < block_count_ && !stopped(control)) {
      start(static_cast<std::size_t>((next_out_ - 1) % capacity_), next_start_++);
    }
  }
  while (next_start_ < block_count_ && next_start_ - next_out_ < capacity_ && !stopped(control)) {
    start(static_cast<std::size_t>(next_start_ % capacity_), next_start_);
    ++next_start_;
  }
  if (next_out_ == block_count_) return {};
  if (stopped(control)) return {Status::Stopped};
  if (next_out_ == next_start_) return {Status::Stopped};  // nothing in flight to wait for

  const std::size_t slot = static_cast<std::size_t>(next_out_ % capacity_);
  SlotJob& job = jobs_[slot];
  std::unique_lock<std::mutex> lock(mutex_);
  bool polling = static_cast<bool>(control.poll);
  while (!job.finished) {
    if (!polling) {
      finished_.wait(lock);
      continue;
    }
    if (finished_.wait_for(lock, control.poll_interval) == std::cv_status::no_timeout) continue;
    if (job.finished) break;
    lock.unlock();
    std::exception_ptr poll_failure;
    try {
      polling = !control.poll();
    } catch (...) {
      poll_failure = std::current_exception();
      polling = false;
    }
    // A signal handler may have forked: the child's window waits for threads it does not have.
    if (getpid() != creator_) panic("the call was interrupted by fork");
    if (!polling) cancel();
    if (poll_failure) std::rethrow_exception(poll_failure);
    lock.lock();
    if (!polling && !job.finished) return {Status::Stopped};
  }
  lock.unlock();
  if (job.failure) {
    failed_ = true;
    std::rethrow_exception(job.failure);
  }
  if (stopped(control)) return {Status::Stopped};
  holding_ = true;
  return {Status::Ready, slot, next_out_++};
}

}  // namespace tessary
