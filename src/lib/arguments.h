// Argument handling of `columnarize(payload, min_rows=20)`: matching the
// call's arguments to the two parameters, then extracting each of them.
#pragma once

#include "lib/python_api.h"

#include <string_view>

#include "lib/errors.h"

namespace tamsel::py {

// Borrowed references to the call's arguments; null when not given.
struct ArgumentSlots {
  PyObject* payload = nullptr;
  PyObject* min_rows = nullptr;
};

// Fills the slots from the positional values and then the keywords, in call
// order. Fails with TypeError on too many, unknown, repeated or missing
// arguments.
Result<ArgumentSlots> parse_arguments(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// The bytes of a `bytes` (or subclass) payload, valid while it is alive.
Result<std::string_view> extract_payload(PyObject* payload);

// Checks that `min_rows` converts to an unsigned 64-bit integer.
Status validate_min_rows(PyObject* min_rows);

}  // namespace tamsel::py
