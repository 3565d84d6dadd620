// The one way this module includes the CPython C API: it must come before
// any standard header. Calls missing from older interpreters come from the
// compatibility header.
#pragma once

#include <Python.h>

#include "lib/python_compat.h"
