#!/usr/bin/env bash
# CI: every allocation point failed in turn (large payloads sampled; set
# TAMSEL_ALLOC_SWEEP=full for every point). First the transform alone under
# AddressSanitizer with leak detection, then the module as Python sees it.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh

echo "== Allocation failures in the transform (AddressSanitizer, LeakSanitizer)"
cmake -S . -B build/alloc-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMSEL_BUILD_TESTS=ON \
  -DTAMSEL_BUILD_CLI=OFF -DTAMSEL_SANITIZE=ON -DTAMSEL_ALLOC_FAILURE=ON >/dev/null
cmake --build build/alloc-asan -j 2 --target tamsel_alloc_failure_tests
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  build/alloc-asan/tests/cpp/tamsel_alloc_failure_tests

echo "== Allocation failures in the module"
python=$(scripts/pick-python.sh)
# pytest in a venv of this build's own, never in the interpreter itself.
venv=build/alloc-venv
if [ ! -x "$venv/bin/python" ]; then
  "$python" -m venv "$venv"
  "$venv/bin/python" -m pip install --quiet --disable-pip-version-check pytest
fi
PYTHON="$python" bash tests/python/build_alloc_failure_module.sh build/alloc-module >/dev/null
TAMSEL_ALLOC_FAIL_BUILD="$PWD/build/alloc-module" \
  "$venv/bin/python" -m pytest tests/python/test_allocation_failure.py -q
