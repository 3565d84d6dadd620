#!/usr/bin/env bash
# Builds the test-only module with fault hooks into BUILD_DIR. The Python
# tests load it from the directory given in TAMSEL_FAULT_HOOK_BUILD, which
# may be BUILD_DIR itself; the directory holding the module is printed.
# Usage: tests/python/build_fault_hook_module.sh BUILD_DIR   ($PYTHON picks the interpreter)
exec "$(dirname "$0")/build_test_module.sh" TAMSEL_FAULT_HOOKS "$@"
