// Compiled only into the test-only variants of the module (test_hooks.h).
#include "lib/test_hooks.h"

#include <cstdint>
#include <new>
#include <string>
#include <utility>

#include "support/alloc_failure.h"
#include "support/fault.h"

namespace tamsel::py::test_hooks {

namespace {

#ifdef TAMSEL_FAULT_HOOKS

constexpr std::string_view kPrefix{"\0tamsel-fault-hook:", 19};

enum class Hook { kNone, kTransform, kTransformOom, kBody, kResultNull, kRaise };

// The hook of the thread's current call, taken from its payload by in_body.
// The transform runs on the calling thread, so it finds the hook here.
thread_local Hook hook = Hook::kNone;
thread_local std::optional<std::string> hook_text;

[[noreturn]] void raise_with(const std::optional<std::string>& text) {
  if (text) raise_fault(*text);
  raise_fault_without_text();
}

PyObject* faulting_type() { raise_fault("fault while raising the call's error"); }

#endif

#ifdef TAMSEL_ALLOC_FAILURE

// Set by _fail_allocation for the thread's next call; 0 when not asked.
thread_local uint64_t failing_point = 0;
// Points passed by the thread's last call.
thread_local uint64_t points_passed = 0;

PyObject* fail_allocation(PyObject*, PyObject* n) {
  const unsigned long long value = PyLong_AsUnsignedLongLong(n);
  if (PyErr_Occurred()) return nullptr;
  failing_point = value;
  Py_RETURN_NONE;
}

PyObject* allocation_points(PyObject*, PyObject*) { return PyLong_FromUnsignedLongLong(points_passed); }

PyObject* limit_memory(PyObject*, PyObject* bytes) {
  const unsigned long long value = bytes == Py_None ? UINT64_MAX : PyLong_AsUnsignedLongLong(bytes);
  if (PyErr_Occurred()) return nullptr;
  alloc_failure::limit_memory(value);
  Py_RETURN_NONE;
}

PyMethodDef controls[] = {
    {"_fail_allocation", fail_allocation, METH_O, "Fails the nth allocation point of the next call."},
    {"_allocation_points", allocation_points, METH_NOARGS, "Allocation points the last call passed."},
    {"_limit_memory", limit_memory, METH_O, "Large buffers past this many bytes (None: no bound) do not fit."},
    {nullptr, nullptr, 0, nullptr},
};

// The creation of a result object as an allocation point.
bool result_allocation_fails() noexcept {
  if (!alloc_failure::next_fails()) return false;
  PyErr_NoMemory();
  return true;
}

#endif

}  // namespace

#ifdef TAMSEL_FAULT_HOOKS

std::optional<Error> in_body(std::string_view payload) {
  hook = Hook::kNone;
  hook_text.reset();
  if (!payload.starts_with(kPrefix)) return std::nullopt;
  std::string_view rest = payload.substr(kPrefix.size());
  const size_t colon = rest.find(':');
  const std::string_view name = rest.substr(0, colon);
  if (colon != std::string_view::npos) hook_text = std::string(rest.substr(colon + 1));
  if (name == "transform") hook = Hook::kTransform;
  if (name == "transform-oom") hook = Hook::kTransformOom;
  if (name == "body") hook = Hook::kBody;
  if (name == "result-null") hook = Hook::kResultNull;
  if (name == "raise") hook = Hook::kRaise;

  if (hook == Hook::kBody) raise_with(hook_text);
  if (hook == Hook::kRaise) return Error::deferred(faulting_type, "never raised");
  return std::nullopt;
}

void in_transform() {
  if (hook == Hook::kTransform) raise_with(hook_text);
  if (hook == Hook::kTransformOom) throw std::bad_alloc();
}

std::string_view transform_input(std::string_view payload) {
  return hook == Hook::kResultNull && hook_text ? std::string_view(*hook_text) : payload;
}

#endif

#ifdef TAMSEL_ALLOC_FAILURE

int add_controls(PyObject* module) { return PyModule_AddFunctions(module, controls); }

Call::Call() noexcept {
  // Armed in any case, so the points are counted even when none is to fail.
  alloc_failure::arm(failing_point == 0 ? UINT64_MAX : failing_point);
  failing_point = 0;
}

Call::~Call() { points_passed = alloc_failure::disarm(); }

int resize_bytes(PyObject** bytes, Py_ssize_t size) noexcept {
  if (!result_allocation_fails()) return _PyBytes_Resize(bytes, size);
  Py_CLEAR(*bytes);
  return -1;
}

#endif

bool result_fails() noexcept {
#ifdef TAMSEL_FAULT_HOOKS
  if (hook == Hook::kResultNull) {
    PyErr_NoMemory();
    return true;
  }
#endif
#ifdef TAMSEL_ALLOC_FAILURE
  return result_allocation_fails();
#else
  return false;
#endif
}

}  // namespace tamsel::py::test_hooks
