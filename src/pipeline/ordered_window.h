// The ordered window: blocks built in parallel, handed out strictly in block order.
//
//   std::vector<TextBlock> slots(capacity);
//   OrderedWindow window(global_pool(), plan.count, capacity,
//                        [&](std::uint64_t block, std::size_t slot) { build(block, slots[slot]); });
//   for (;;) {
//     OrderedWindow::Next next = window.next(control);
//     if (next.status != OrderedWindow::Status::Ready) break;
//     consume(slots[next.slot]);   // on the calling thread, while later blocks build
//   }
//
// At most `capacity` blocks are in flight (being built, or built and waiting for their turn), so
// the memory of a streamed range is bounded by the window, never by the range. The caller owns the
// storage of the slots and reuses it: a slot handed out by next() is built again only after the
// following call of next(), so its contents stay valid and untouched until then.
//
// Failures: `build` may throw (a Panic or std::bad_alloc). next() rethrows the failure of the
// first failing block in block order, which is the failure of the lowest failing id when blocks
// build their ids in ascending order, whatever the thread count. After a failure no new block is
// started and next() reports Stopped.
//
// Cancellation: cancel() (from any thread), control.cancel, or control.poll returning true or
// throwing stop the window: no new block starts and next() reports Stopped (a poll's exception is
// rethrown first). Blocks in flight finish in any case; the destructor waits for them, so `build`
// and what it borrows must outlive the window. A process made by fork while a window waits has
// none of the pool's threads: the window then reports "interrupted by fork" as a Panic and never
// waits for work that cannot finish.
//
// Thread safety: next() is called by one thread at a time (any thread that is not a worker of the
// pool); cancel() by any thread at any time.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

#include "pool/collect_indexed.h"
#include "pool/worker_pool.h"

namespace tessary {

class OrderedWindow {
 public:
  // Builds block `block` into the caller's slot storage number `slot` (< capacity). Runs on the
  // pool's workers, several at once for different slots.
  using Build = std::function<void(std::uint64_t block, std::size_t slot)>;

  enum class Status : std::uint8_t { Ready, End, Stopped };
  struct Next {
    Status status = Status::End;
    std::size_t slot = 0;     // when Ready: where the block was built
    std::uint64_t block = 0;  // when Ready: which block it is
  };

  // Requires capacity >= 1. Nothing starts before the first call of next().
  OrderedWindow(WorkerPool& pool, std::uint64_t block_count, std::size_t capacity, Build build);
  ~OrderedWindow();
  OrderedWindow(const OrderedWindow&) = delete;
  OrderedWindow& operator=(const OrderedWindow&) = delete;

  std::size_t capacity() const noexcept { return capacity_; }

  // Waits for the next block in order and hands it out. control.poll runs on this thread every
  // control.poll_interval while it waits.
  Next next(const CollectControl& control = {});

  // Stops the window: no block starts after this. Thread-safe.
  void cancel() noexcept { cancelled_.store(true, std::memory_order_relaxed); }

 private:
  struct SlotJob;

  void start(std::size_t slot, std::uint64_t block);
  bool stopped(const CollectControl& control) const noexcept;
  static void run_job(Job& job, Worker& runner, bool moved) noexcept;

  WorkerPool& pool_;
  const std::uint64_t block_count_;
  const std::size_t capacity_;
  const Build build_;
  const pid_t creator_ = 0;  // the process the window was made in

  std::unique_ptr<SlotJob[]> jobs_;
  std::uint64_t next_out_ = 0;    // the next block to hand out
  std::uint64_t next_start_ = 0;  // the next block to start
  bool holding_ = false;          // the slot of block next_out_ - 1 is with the caller
  bool failed_ = false;
  std::atomic<bool> cancelled_{false};

  std::mutex mutex_;
  std::condition_variable finished_;
  std::size_t in_flight_ = 0;  // guarded by mutex_
};

// Slots for a window on `pool`: a few per thread, so that every thread has a block to build while
// the caller consumes the oldest.
std::size_t window_capacity(const WorkerPool& pool);

}  // namespace tessary
