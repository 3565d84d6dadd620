#!/usr/bin/env bash
# Builds the test-only module in which any one allocation of a call can be
# made to fail, into BUILD_DIR. The Python tests load it from the directory
# given in TAMSEL_ALLOC_FAIL_BUILD, which may be BUILD_DIR itself; the
# directory holding the module is printed.
#
# The interpreter is the one scripts/pick-python.sh picks ($PYTHON if set).
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build_dir=$1
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

python=$("$source_dir/scripts/pick-python.sh")

cmake -S "$source_dir" -B "$build_dir" \
  -DCMAKE_BUILD_TYPE=Release \
  -DTAMSEL_BUILD_MODULE=ON \
  -DTAMSEL_BUILD_CLI=OFF \
  -DTAMSEL_BUILD_TESTS=OFF \
  -DTAMSEL_ALLOC_FAILURE=ON \
  -DPython_EXECUTABLE="$python" >/dev/null
cmake --build "$build_dir" --target tamsel_codec -j2 >/dev/null

echo "$build_dir/src/lib"
