// The module's one function, `columnarize(payload, min_rows=20)` (call.cpp).
#pragma once

#include "lib/python_compat.h"

namespace tamsel::py {

// Outlives every function object made from it.
extern PyMethodDef columnarize_method;

}  // namespace tamsel::py
