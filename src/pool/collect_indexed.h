// collect_indexed: the one parallel operation, an index-ordered parallel map into slots.
//
//   std::vector<R> slots(count);
//   CollectResult r = collect_indexed(global_pool(), count, [&](std::size_t i) { return f(i); },
//                                     std::span<R>(slots));
//
// Calls fn(i) exactly once for every index i in [0, count) and moves its result into slots[i],
// whatever the thread count and scheduling. fn runs on the pool's workers, possibly on several at
// once, so it may only read shared data. Pass global_pool() as the pool in production: it is
// created on first use, also when count is 0.
//
// How the work is spread: the range [0, count) is split in halves by the rule of split_budget.h;
// a worker runs the left half itself and offers the right half on its deque, where an idle worker
// may take it; a piece that is not split runs its indices one after another in ascending order.
// A calling thread that is not a worker of the pool hands its first split in through the shared
// queue and waits on its own CallerLatch; it does not help. A count of 0 or 1 never splits and runs
// on the calling thread. A call from a worker of the same pool splits on that worker (which runs
// other work while it waits for halves that others took), so nested calls do not deadlock.
//
// Failures: when fn throws (in this system a Panic or std::bad_alloc) the piece running it stops:
// its later indices are not computed and the slots it filled are released. Other pieces go on. The
// call returns only after every piece has finished, then rethrows the exception (the same object:
// same type and message) of the lowest failing index, whatever the thread count.
//
// Cancellation: when control.cancel is set, or control.poll has returned true, a piece stops
// before its next index like a failed piece. The call still waits until every piece has stopped
// (fn and its inputs are borrowed) and returns cancelled = true. If cancellation and failures both
// stopped pieces, the lowest index that was not computed decides: a failure there is rethrown,
// otherwise the call reports cancelled. Without cancel and poll nothing of this applies.
//
// Fork: in a child process forked by control.poll (for instance from a signal handler), the call's
// workers do not exist, so the child's copy of the call cannot finish. When poll returns there,
// the call panics with "the call was interrupted by fork: ..." and leaves its slots holding no
// results, without releasing what they held (the child's copies of the parent's results).
//
// Slots after the call: [0, filled) hold the results of their indices; every result computed at or
// after `filled` has been released (its slot reset to T()). filled == count unless cancelled; on a
// throw, the slot of the failing index and all after it hold no result.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <new>
#include <span>
#include <type_traits>
#include <utility>

#include "pool/caller_latch.h"
#include "pool/job_queue.h"
#include "pool/split_budget.h"
#include "pool/worker_pool.h"
#include "records/panic.h"

namespace tessary {

struct CollectControl {
  // Checked by every piece before each index; once true, pieces stop. May be set from any thread.
  const std::atomic<bool>* cancel = nullptr;
  // Called on the calling thread every poll_interval while it waits for the workers (only a
  // thread that is not a worker of the pool waits, and only when count >= 2). Returning true
  // requests cancellation and ends polling. If it throws, the call is cancelled, waits for its
  // pieces and rethrows that exception, which takes precedence over any failure of fn.
  std::function<bool()> poll;
  std::chrono::milliseconds poll_interval{20};
};

struct CollectResult {
  std::size_t filled;  // slots [0, filled) hold results; equals count unless cancelled
  bool cancelled;      // the call was stopped through CollectControl
};

// True while this thread waits for a collect_indexed call, i.e. while its poll callback runs.
// Another call from this thread then would have to wait for itself, so collect_indexed refuses it
// with the panic "collect_indexed called re-entrantly while a call of this thread is waiting";
// callers that want to report it otherwise check this first.
inline bool collect_indexed_waiting_on_this_thread() {
  return CallerLatch::for_this_thread().waiting();
}

namespace collect_detail {

enum class Stop : std::uint8_t { None, Failed, Cancelled };

// What a piece reports to the join above it: slots [0, filled) of the piece hold results and its
// other slots hold none of this call's results. `failure` is set when stop == Failed.
struct Outcome {
  std::size_t filled = 0;
  Stop stop = Stop::None;
  std::exception_ptr failure;
};

// A sub-range of the indices and the slots that belong to it: slots[k] is index begin + k.
template <class T>
struct Piece {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::span<T> slots;
};

// Splits a piece after its first `mid` indices and slots. The checks cannot fail when the piece
// came from collect_indexed; they guard the slots against a faulty split.
template <class T>
std::pair<Piece<T>, Piece<T>> split_piece(const Piece<T>& piece, std::size_t mid) {
  if (mid > piece.end - piece.begin) panic("assertion failed: index <= self.range.len()");
  if (mid > piece.slots.size()) panic("assertion failed: index <= len");
  return {Piece<T>{piece.begin, piece.begin + mid, piece.slots.first(mid)},
          Piece<T>{piece.begin + mid, piece.end, piece.slots.subspan(mid)}};
}

template <class T>
void release(std::span<T> slots) noexcept {
  for (T& slot : slots) slot = T();
}

// What every piece of one call shares. Lives on the calling thread's stack for the whole call.
template <class T, class Fn>
struct Call {
  WorkerPool& pool;
  Fn& fn;
  const std::atomic<bool>* cancel;
  bool cancellable;                         // cancel or poll given
  std::atomic<bool> stop_requested{false};  // set when the caller's poll asks for it

  bool stopped() const noexcept {
    return stop_requested.load(std::memory_order_relaxed) ||
           (cancel != nullptr && cancel->load(std::memory_order_relaxed));
  }
};

// Runs the piece's indices in ascending order until the end, a failure or a cancellation.
template <class T, class Fn>
Outcome run_sequential(Call<T, Fn>& call, const Piece<T>& piece) noexcept {
  const std::size_t length = piece.end - piece.begin;
  std::size_t k = 0;
  try {
    for (; k < length; ++k) {
      if (call.cancellable && call.stopped()) {
        release(piece.slots.first(k));
        return {0, Stop::Cancelled, {}};
      }
      piece.slots[k] = call.fn(piece.begin + k);
    }
  } catch (...) {
    release(piece.slots.first(k));
    return {0, Stop::Failed, std::current_exception()};
  }
  return {length, Stop::None, {}};
}

// Two joined halves: the counts add up when the left half is complete, so that its results end
// where the right half's begin. Otherwise the right half's results are released and its failure,
// if any, dropped: the left half holds the lower indices.
template <class T>
Outcome join_outcomes(Outcome left, const Piece<T>& right_piece, Outcome right) noexcept {
  if (left.stop == Stop::None) {
    right.filled += left.filled;
    return right;
  }
  release(right_piece.slots.first(right.filled));
  return left;
}

template <class T, class Fn>
Outcome run_range(Call<T, Fn>& call, Worker& self, const Piece<T>& piece, std::size_t budget,
                  bool moved) noexcept;

// The right half of a split, offered on the splitting worker's deque.
template <class T, class Fn>
struct RightHalf : Job {
  RightHalf(Call<T, Fn>& call_, const Piece<T>& piece_, std::size_t budget_)
      : Job(&RightHalf::run), call(call_), piece(piece_), budget(budget_) {}

  static void run(Job& job, Worker& runner, bool moved) noexcept {
    auto& half = static_cast<RightHalf&>(job);
    half.outcome = run_range(half.call, runner, half.piece, half.budget, moved);
  }

  Call<T, Fn>& call;
  Piece<T> piece;
  std::size_t budget;
  Outcome outcome;
};

// Runs both halves on `self`, the right one possibly on another worker, and joins them. Returns
// only when both are finished, whatever happened in either.
template <class T, class Fn>
Outcome run_halves(Call<T, Fn>& call, Worker& self, const Piece<T>& left, const Piece<T>& right,
                   std::size_t budget, bool moved) noexcept {
  RightHalf<T, Fn> right_half(call, right, budget);
  const bool offered = call.pool.offer(self, right_half);
  Outcome left_outcome = run_range(call, self, left, budget, moved);
  if (!offered || call.pool.take_back(self, right_half)) {
    right_half.outcome = run_range(call, self, right, budget, moved);
  } else {
    call.pool.wait_until_done(self, right_half);
  }
  return join_outcomes(std::move(left_outcome), right, std::move(right_half.outcome));
}

template <class T, class Fn>
Outcome run_range(Call<T, Fn>& call, Worker& self, const Piece<T>& piece, std::size_t budget,
                  bool moved) noexcept {
  if (!try_split(budget, piece.end - piece.begin, moved, call.pool.thread_count())) {
    return run_sequential(call, piece);
  }
  std::pair<Piece<T>, Piece<T>> halves;
  try {
    halves = split_piece(piece, (piece.end - piece.begin) / 2);
  } catch (...) {
    return {0, Stop::Failed, std::current_exception()};
  }
  return run_halves(call, self, halves.first, halves.second, budget, false);
}

// The first split of a call from outside the pool, handed in whole through the shared queue.
template <class T, class Fn>
struct InjectedSplit : Job {
  InjectedSplit(Call<T, Fn>& call_, std::pair<Piece<T>, Piece<T>> halves_, std::size_t budget_)
      : Job(&InjectedSplit::run), call(call_), halves(halves_), budget(budget_) {}

  static void run(Job& job, Worker& runner, bool) noexcept {
    auto& split = static_cast<InjectedSplit&>(job);
    // Both halves of a split handed in from outside count as moved.
    split.outcome =
        run_halves(split.call, runner, split.halves.first, split.halves.second, split.budget, true);
  }

  Call<T, Fn>& call;
  std::pair<Piece<T>, Piece<T>> halves;
  std::size_t budget;
  Outcome outcome;
};

// A child forked while the call waited (from its poll callback) has none of the workers that were
// running the call's pieces, and they may have stopped in the middle of writing a slot or the
// outcome. The child cannot finish the call: it forgets what the slots and the outcome hold
// without destroying it (the parent owns the originals) and panics.
template <class T, class Fn>
[[noreturn]] void abandon_in_forked_child(std::span<T> slots, InjectedSplit<T, Fn>& split) {
  for (T& slot : slots) new (&slot) T();
  new (&split.outcome) Outcome();
  panic("the call was interrupted by fork: this child process has none of the threads doing its "
        "work");
}

}  // namespace collect_detail

// See the top of this file. Requires: slots.size() >= count (else the panic "too many values
// pushed to consumer"; slots past count are not touched); fn(i) for i < count is callable
// concurrently and its result is assignable to T; T() and moving T do not throw. The pool must
// outlive the call. Thread-safe: calls from several threads may run at the same time.
template <class T, class Fn>
CollectResult collect_indexed(WorkerPool& pool, std::size_t count, Fn&& fn, std::span<T> slots,
                              const CollectControl& control = {}) {
  static_assert(std::is_nothrow_default_constructible_v<T> && std::is_nothrow_move_assignable_v<T>,
                "releasing a result must not throw");
  using namespace collect_detail;
  CallerLatch& latch = CallerLatch::for_this_thread();
  if (latch.waiting()) {
    panic("collect_indexed called re-entrantly while a call of this thread is waiting");
  }
  if (slots.size() < count) panic("too many values pushed to consumer");

  Call<T, std::remove_reference_t<Fn>> call{pool, fn, control.cancel,
                                            control.cancel != nullptr || bool(control.poll)};
  const Piece<T> whole{0, count, slots.first(count)};
  Outcome outcome;
  std::exception_ptr poll_failure;
  std::size_t budget = pool.thread_count();
  if (Worker* self = pool.current_worker()) {
    outcome = run_range(call, *self, whole, budget, false);
  } else if (!try_split(budget, count, false, pool.thread_count())) {
    outcome = run_sequential(call, whole);
  } else {
    InjectedSplit split(call, split_piece(whole, count / 2), budget);
    split.latch = &latch;
    pool.inject(split);
    CallerLatch::WaitEnd end =
        latch.wait(control.poll, control.poll_interval, call.stop_requested);
    if (end.forked_child) abandon_in_forked_child(slots.first(count), split);
    poll_failure = std::move(end.poll_failure);
    outcome = std::move(split.outcome);
  }
  if (poll_failure) std::rethrow_exception(poll_failure);
  if (outcome.stop == Stop::Failed) std::rethrow_exception(outcome.failure);
  return {outcome.filled, outcome.stop == Stop::Cancelled};
}

}  // namespace tessary
