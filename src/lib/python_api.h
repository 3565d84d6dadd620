// The one way this module includes the CPython C API: it must come before
// any standard header.
#pragma once

#include <Python.h>
