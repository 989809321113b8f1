// Releasing the interpreter lock for the length of a scope, with brief returns to it.
#pragma once

#include <Python.h>

namespace tessary::binding {

// Releases the GIL on construction and takes it back on destruction. In between, hold() takes it
// for a moment (to call into Python) and let_go() releases it again. Requires the GIL at
// construction; one thread only.
class GilRelease {
 public:
  GilRelease() : state_(PyEval_SaveThread()) {}
  ~GilRelease() { hold(); }
  GilRelease(const GilRelease&) = delete;
  GilRelease& operator=(const GilRelease&) = delete;

  void hold() {
    if (state_ != nullptr) PyEval_RestoreThread(state_);
    state_ = nullptr;
  }
  void let_go() {
    if (state_ == nullptr) state_ = PyEval_SaveThread();
  }

 private:
  PyThreadState* state_;  // null while the GIL is held
};

// Holds the GIL for a scope inside a GilRelease scope.
class GilHold {
 public:
  explicit GilHold(GilRelease& release) : release_(release) { release_.hold(); }
  ~GilHold() { release_.let_go(); }
  GilHold(const GilHold&) = delete;
  GilHold& operator=(const GilHold&) = delete;

 private:
  GilRelease& release_;
};

// Cancels the work in flight of an owned stream and deletes it with the GIL released (deleting
// waits for that work, which may take the GIL), leaving `owned` null. Requires the GIL.
template <class Stream>
void cancel_and_delete(Stream*& owned) {
  Stream* stream = owned;
  owned = nullptr;
  if (stream == nullptr) return;
  stream->cancel();
  Py_BEGIN_ALLOW_THREADS
  delete stream;
  Py_END_ALLOW_THREADS
}

}  // namespace tessary::binding
