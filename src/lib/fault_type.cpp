#include "lib/fault_type.h"

#include <string>

#include "lib/errors.h"
#include "lib/once_cell.h"
#include "support/fault.h"

namespace tamsel::py {

namespace {

constexpr const char kName[] = "pyo3_runtime.PanicException";
constexpr const char kDoc[] =
    "\n"
    "The exception raised when Rust code called from Python panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

constinit OnceCell fault_type_cell;

PyObject* create_fault_type() {
  OwnedRef base{Py_NewRef(PyExc_BaseException)};
  PyObject* type = PyErr_NewExceptionWithDoc(kName, kDoc, base.get(), nullptr);
  if (type == nullptr) {
    // Taken raw: fetch_error would ask for this very type.
    raise_fault("Failed to initialize new exception type.: " + describe_error(fetch_raw_error()));
  }
  return type;
}

}  // namespace

PyObject* fault_exception_type() { return fault_type_cell.get_or_create(create_fault_type); }

}  // namespace tamsel::py
