#include "engine/caller_duties.h"

namespace tessary::engine {

using binding::GilHold;
using binding::GilRelease;

CallerDuties::CallerDuties(GilRelease& gil, PyObject* progress, std::uint64_t total)
    : gil_(gil),
      progress_(progress),
      total_(total),
      last_signals_(std::chrono::steady_clock::now()),
      last_progress_(last_signals_) {}

bool CallerDuties::due(std::uint64_t done, std::uint64_t bytes) {
  done_ = done;
  bytes_ = bytes;
  const auto now_time = std::chrono::steady_clock::now();
  if (now_time - last_signals_ < SIGNAL_INTERVAL) return true;
  return now(done, bytes, progress_ != nullptr && now_time - last_progress_ >= PROGRESS_INTERVAL);
}

bool CallerDuties::now(std::uint64_t done, std::uint64_t bytes, bool report_progress) {
  done_ = done;
  bytes_ = bytes;
  GilHold hold(gil_);
  last_signals_ = std::chrono::steady_clock::now();
  if (PyErr_CheckSignals() != 0) return false;
  if (!report_progress || progress_ == nullptr) return true;
  last_progress_ = last_signals_;
  PyObject* result = PyObject_CallFunction(progress_, "KKK", static_cast<unsigned long long>(done),
                                           static_cast<unsigned long long>(total_),
                                           static_cast<unsigned long long>(bytes));
  if (result == nullptr) return false;
  Py_DECREF(result);
  return true;
}

CollectControl CallerDuties::control() {
  CollectControl control;
  control.poll_interval = SIGNAL_INTERVAL;
  control.poll = [this] { return !due(done_, bytes_); };
  return control;
}

}  // namespace tessary::engine
