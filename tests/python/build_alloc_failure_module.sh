#!/usr/bin/env bash
# Builds the test-only module in which any one allocation of a call can be
# made to fail, into BUILD_DIR. The Python tests load it from the directory
# given in TAMSEL_ALLOC_FAIL_BUILD, which may be BUILD_DIR itself; the
# directory holding the module is printed.
# Usage: tests/python/build_alloc_failure_module.sh BUILD_DIR   ($PYTHON picks the interpreter)
exec "$(dirname "$0")/build_test_module.sh" TAMSEL_ALLOC_FAILURE "$@"
