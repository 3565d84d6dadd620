#!/usr/bin/env bash
# Builds everything and runs every test: the C++ tests (ctest), then the
# Python module installed with pip and its pytest suite, including the
# containment tests that need the test-only fault-hook build.
set -euo pipefail
cd "$(dirname "$0")/.."

PYTHON=${PYTHON:-python3.14t}
if ! command -v "$PYTHON" >/dev/null 2>&1; then
  echo "error: $PYTHON (free-threaded CPython 3.14) is not on PATH; the Python module cannot be built or tested" >&2
  exit 1
fi
JOBS=${JOBS:-2}
scripts/install-deps.sh

echo "== C++ tests"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAMSEL_BUILD_TESTS=ON >/dev/null
cmake --build build/release -j "$JOBS"
ctest --test-dir build/release --output-on-failure -j "$JOBS"

echo "== Python module"
"$PYTHON" -m pip install --quiet --disable-pip-version-check pytest
"$PYTHON" -m pip install --quiet --disable-pip-version-check --force-reinstall --no-deps .
bash tests/python/build_fault_hook_module.sh build/fault-hooks
TAMSEL_FAULT_HOOK_BUILD="$PWD/build/fault-hooks" "$PYTHON" -m pytest tests/python -q
