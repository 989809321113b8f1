// What the calling thread of a streaming call does besides consuming blocks: it looks for signals
// (Ctrl-C) and reports progress, each with the interpreter lock taken for a moment.
#pragma once

#include <Python.h>

#include <chrono>
#include <cstdint>

#include "binding/gil.h"
#include "pool/collect_indexed.h"

namespace tessary::engine {

// Signals are looked at about every SIGNAL_INTERVAL, progress reported at most every
// PROGRESS_INTERVAL (ten times a second).
inline constexpr std::chrono::milliseconds SIGNAL_INTERVAL{20};
inline constexpr std::chrono::milliseconds PROGRESS_INTERVAL{100};

class CallerDuties {
 public:
  // `progress` is a callable taking (done, total, bytes): entities done since the start of the
  // range, entities in the range, bytes written; or nullptr. Borrowed. `gil` is the scope in which
  // the GIL is released.
  CallerDuties(binding::GilRelease& gil, PyObject* progress, std::uint64_t total);

  // Looks for signals and reports progress when they are due. False when a signal handler or the
  // progress callable raised: the interpreter's error is set and the call must stop.
  bool due(std::uint64_t done, std::uint64_t bytes);
  // The same, at once, whether due or not (for a write interrupted by a signal, or at the end).
  bool now(std::uint64_t done, std::uint64_t bytes, bool report_progress);
  // Looks for signals at once, with the counts last seen (for a write that must wait).
  bool signals() { return now(done_, bytes_, false); }

  // For waiting on blocks: polls for signals (and progress, with the count last seen).
  CollectControl control();

 private:
  binding::GilRelease& gil_;
  PyObject* progress_;
  std::uint64_t total_;
  std::uint64_t done_ = 0;
  std::uint64_t bytes_ = 0;
  std::chrono::steady_clock::time_point last_signals_;
  std::chrono::steady_clock::time_point last_progress_;
};

}  // namespace tessary::engine
