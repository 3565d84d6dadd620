// Test-only: failing any one allocation of a columnarize call, the result
// object included (see support/alloc_failure.h). With TAMSEL_ALLOC_FAILURE
// the module gains three functions:
//
//   _fail_allocation(n)   the nth allocation point of this thread's next
//                         columnarize call fails
//   _allocation_points()  how many points this thread's last call passed
//   _limit_memory(bytes)  large buffers are checked against a limit of
//                         `bytes` (None: none), for every thread
//
// Otherwise everything here does nothing and vanishes.
#pragma once

#include "lib/python_api.h"

namespace tamsel::py {

#ifdef TAMSEL_ALLOC_FAILURE

// Execution step that adds the three functions to the module.
int add_allocation_failure_controls(PyObject* module);

// Arms the thread for the call it is made in, if _fail_allocation asked.
class AllocationFailureCall {
 public:
  AllocationFailureCall() noexcept;
  ~AllocationFailureCall();
  AllocationFailureCall(const AllocationFailureCall&) = delete;
  AllocationFailureCall& operator=(const AllocationFailureCall&) = delete;
};

// The creation of a result object as an allocation point: true, with
// MemoryError set, when it is the one to fail.
bool result_allocation_fails() noexcept;
// _PyBytes_Resize, as an allocation point that fails as it does.
int resize_bytes(PyObject** bytes, Py_ssize_t size) noexcept;

#else

class AllocationFailureCall {};
inline bool result_allocation_fails() noexcept { return false; }
inline int resize_bytes(PyObject** bytes, Py_ssize_t size) noexcept { return _PyBytes_Resize(bytes, size); }

#endif

}  // namespace tamsel::py
