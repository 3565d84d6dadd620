// The process-wide exception type that an internal fault becomes when it
// escapes to Python outside the transform.
#pragma once

#include "lib/python_api.h"

namespace tamsel::py {

// "pyo3_runtime.PanicException" (borrowed), derived from BaseException and
// created on first use. Requires an attached thread.
PyObject* fault_exception_type();

}  // namespace tamsel::py
