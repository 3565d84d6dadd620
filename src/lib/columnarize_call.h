// The `columnarize` function: its method definition and fast-call entry.
#pragma once

#include "lib/python_api.h"

namespace tamsel::py {

// Outlives every function object made from it.
extern PyMethodDef columnarize_method;

}  // namespace tamsel::py
