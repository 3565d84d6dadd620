// Process-wide cells that create one Python object on first use and keep it
// for the life of the process.
//
// A thread never waits on a cell while attached: it detaches before looking
// at a cell that is not yet complete and re-attaches either to run the
// creator or once another thread has published the value. A waiting thread
// therefore never holds up the creating thread, nor a stop-the-world pause.
#pragma once

#include "lib/python_api.h"

#include <atomic>

namespace tamsel::py {

class OnceCell {
 public:
  constexpr OnceCell() = default;
  OnceCell(const OnceCell&) = delete;
  OnceCell& operator=(const OnceCell&) = delete;

  // Returns the cell's object (borrowed), running `create` to make it if no
  // thread has yet. `create` runs attached and returns a new reference; if it
  // throws, the cell goes back to incomplete and the exception travels on.
  // The caller must be attached; it returns attached.
  template <class Create>
  PyObject* get_or_create(Create&& create) {
    if (state_.load(std::memory_order_acquire) == kComplete) return value_;
    return slow_path(create);
  }

 private:
  enum : int { kIncomplete, kInitialising, kComplete };

  template <class Create>
  PyObject* slow_path(Create& create) {
    PyThreadState* saved = PyEval_SaveThread();
    for (;;) {
      int state = state_.load(std::memory_order_acquire);
      if (state == kComplete) {
        PyEval_RestoreThread(saved);
        return value_;
      }
      if (state == kIncomplete &&
          state_.compare_exchange_strong(state, kInitialising, std::memory_order_acquire)) {
        PyEval_RestoreThread(saved);
        return run_creator(create);
      }
      if (state == kInitialising) state_.wait(kInitialising, std::memory_order_acquire);
    }
  }

  template <class Create>
  PyObject* run_creator(Create& create) {
    try {
      value_ = create();
    } catch (...) {
      state_.store(kIncomplete, std::memory_order_release);
      state_.notify_all();
      throw;
    }
    state_.store(kComplete, std::memory_order_release);
    state_.notify_all();
    return value_;
  }

  std::atomic<int> state_{kIncomplete};
  PyObject* value_ = nullptr;
};

}  // namespace tamsel::py
