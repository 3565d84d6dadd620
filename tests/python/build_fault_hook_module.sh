#!/usr/bin/env bash
# Builds the test-only module with fault hooks into BUILD_DIR. The Python
# tests load it from the directory given in TAMSEL_FAULT_HOOK_BUILD, which
# may be BUILD_DIR itself; the directory holding the module is printed.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build_dir=$1
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
python=${PYTHON:-python3}

cmake -S "$source_dir" -B "$build_dir" \
  -DCMAKE_BUILD_TYPE=Release \
  -DTAMSEL_BUILD_MODULE=ON \
  -DTAMSEL_BUILD_CLI=OFF \
  -DTAMSEL_BUILD_TESTS=OFF \
  -DTAMSEL_FAULT_HOOKS=ON \
  -DPython_EXECUTABLE="$(command -v "$python")" >/dev/null
cmake --build "$build_dir" --target tamsel_codec -j2 >/dev/null

echo "$build_dir/src/lib"
