#include "lib/alloc_failure_controls.h"

#include <cstdint>

#include "support/alloc_failure.h"

namespace tamsel::py {

namespace {

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

}  // namespace

int add_allocation_failure_controls(PyObject* module) { return PyModule_AddFunctions(module, controls); }

AllocationFailureCall::AllocationFailureCall() noexcept {
  // Armed in any case, so the points are counted even when none is to fail.
  alloc_failure::arm(failing_point == 0 ? UINT64_MAX : failing_point);
  failing_point = 0;
}

AllocationFailureCall::~AllocationFailureCall() { points_passed = alloc_failure::disarm(); }

bool result_allocation_fails() noexcept {
  if (!alloc_failure::next_fails()) return false;
  PyErr_NoMemory();
  return true;
}

int resize_bytes(PyObject** bytes, Py_ssize_t size) noexcept {
  if (!result_allocation_fails()) return _PyBytes_Resize(bytes, size);
  Py_CLEAR(*bytes);
  return -1;
}

}  // namespace tamsel::py
