#!/usr/bin/env bash
# The extension module (module surface and core) built with AddressSanitizer
# and UndefinedBehaviorSanitizer, loaded into an ordinary interpreter with the
# ASan runtime preloaded, then the pytest suite and the short stress run
# against it. The fault-hook variant of the module is used throughout: it
# behaves exactly like the plain one except on the hook payloads, so the
# containment tests run sanitized too.
# Usage: scripts/ci/asan_module.sh   (PYTHON=... picks the interpreter)
set -euo pipefail
cd "$(dirname "$0")/../.."

PYTHON=$(scripts/pick-python.sh)
BUILD=build/asan-module
echo "== Module under AddressSanitizer + UndefinedBehaviorSanitizer, with $PYTHON"

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMSEL_SANITIZE=ON \
  -DTAMSEL_BUILD_MODULE=ON -DTAMSEL_FAULT_HOOKS=ON -DTAMSEL_BUILD_CLI=OFF -DTAMSEL_BUILD_TESTS=OFF \
  -DPython_EXECUTABLE="$PYTHON" >/dev/null
cmake --build "$BUILD" -j 2 --target tamsel_codec
module_dir=$PWD/$BUILD/src/lib

# pytest goes into a venv of this build, never into the interpreter itself.
venv=$BUILD/venv
[ -x "$venv/bin/python" ] || "$PYTHON" -m venv "$venv"
"$venv/bin/python" -m pip install --quiet --disable-pip-version-check pytest

# The interpreter is not instrumented: the runtime must be loaded first, and
# leak detection stays off, since what the interpreter still holds at exit
# (by design) would be reported as leaks. Leaks of the C++ layer are caught by
# the sanitized ctest run, which has leak detection on. The C++ runtime is
# preloaded too: the interpreter does not link it, and ASan can only wrap the
# exception-throwing entry point when it is there at start-up.
export LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export PYTHONPATH=$module_dir
export TAMSEL_FAULT_HOOK_BUILD=$module_dir TAMSEL_REQUIRE_FAULT_HOOKS=1

"$venv/bin/python" -c "
import tamsel_codec, sys
assert tamsel_codec.__file__.startswith(sys.argv[1]), tamsel_codec.__file__
" "$module_dir"
# Under an address-space cap the sanitizer's own allocator runs out and ends
# the process, so the exhaustion test only runs in the plain build. The
# package tests (metadata, stub, installed location) need an installed wheel:
# scripts/test.sh runs them on every interpreter; here the module is loaded
# from its build directory.
"$venv/bin/python" -m pytest tests/python -q -p no:cacheprovider \
  --ignore tests/python/test_package.py \
  --deselect tests/python/test_memory_exhaustion.py::test_exhausted_memory_is_a_contained_runtime_error
# The short stress run (the soak mix would take too long here). Freed memory
# waits in the sanitizer's quarantine (256 MiB), so resident memory is judged
# by the plain run in CI, not by this one.
"$venv/bin/python" tests/stress/stress.py --calls 20000 --rss-bound-mib 1024
