// The one place where the module's test-only variants reach the call. In the
// product build every function here is an inline no-op and vanishes.
//
// With TAMSEL_FAULT_HOOKS, internal faults on purpose, chosen by a payload
// that starts with "\0tamsel-fault-hook:" followed by a hook name and,
// optionally, ":" and a fault text:
//
//   transform[:TEXT]  internal fault inside the transform's containment
//   transform-oom     memory exhaustion inside the transform
//   body[:TEXT]       internal fault in the call body, outside it
//   result-null:JSON  JSON is transformed, then its result cannot be created
//   raise             the call's error faults while being raised
//
// With TAMSEL_ALLOC_FAILURE, any one allocation of a columnarize call can be
// made to fail, the result object included (see support/alloc_failure.h),
// through two functions the module gains:
//
//   _fail_allocation(n)   the nth allocation point of this thread's next
//                         columnarize call fails
//   _allocation_points()  how many points this thread's last call passed
#pragma once

#include "lib/python_compat.h"

#include <optional>
#include <string_view>

#include "lib/errors.h"

namespace tamsel::py::test_hooks {

#ifdef TAMSEL_FAULT_HOOKS

// In the call body, attached, before the payload is copied: takes the
// payload's hook for the rest of the thread's call, then raises the body
// fault, or returns an error that cannot be raised.
std::optional<Error> in_body(std::string_view payload);
// Inside the transform's containment, detached.
void in_transform();
// What the transform reads instead of `payload`.
std::string_view transform_input(std::string_view payload);

#else

inline std::optional<Error> in_body(std::string_view) { return std::nullopt; }
inline void in_transform() {}
inline std::string_view transform_input(std::string_view payload) { return payload; }

#endif

#ifdef TAMSEL_ALLOC_FAILURE

// Execution step that adds the two functions to the module.
int add_controls(PyObject* module);
#define TAMSEL_TEST_HOOK_SLOTS {Py_mod_exec, reinterpret_cast<void*>(::tamsel::py::test_hooks::add_controls)},

// Arms the thread for the call it is made in, if _fail_allocation asked.
class Call {
 public:
  Call() noexcept;
  ~Call();
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
};

// _PyBytes_Resize, as an allocation point that fails as it does.
int resize_bytes(PyObject** bytes, Py_ssize_t size) noexcept;

#else

#define TAMSEL_TEST_HOOK_SLOTS
class Call {};
inline int resize_bytes(PyObject** bytes, Py_ssize_t size) noexcept { return _PyBytes_Resize(bytes, size); }

#endif

#if defined(TAMSEL_FAULT_HOOKS) || defined(TAMSEL_ALLOC_FAILURE)

// Whether making a result object is to fail: true, with MemoryError set,
// under the hook result-null or when it is the allocation point to fail.
bool result_fails() noexcept;

#else

inline bool result_fails() noexcept { return false; }

#endif

}  // namespace tamsel::py::test_hooks
