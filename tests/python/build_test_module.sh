#!/usr/bin/env bash
# Builds a test-only variant of the module into BUILD_DIR and prints the
# directory holding it. OPTION is the CMake option that makes the variant:
# TAMSEL_FAULT_HOOKS (payloads that raise internal faults) or
# TAMSEL_ALLOC_FAILURE (any one allocation of a call can be made to fail).
# The interpreter is the one scripts/pick-python.sh picks ($PYTHON if set).
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 OPTION BUILD_DIR" >&2
  exit 2
fi
option=$1
build_dir=$2
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
python=$("$source_dir/scripts/pick-python.sh")

cmake -S "$source_dir" -B "$build_dir" \
  -DCMAKE_BUILD_TYPE=Release \
  -DTAMSEL_BUILD_MODULE=ON \
  -DTAMSEL_BUILD_CLI=OFF \
  -DTAMSEL_BUILD_TESTS=OFF \
  -D"$option"=ON \
  -DPython_EXECUTABLE="$python" >/dev/null
cmake --build "$build_dir" --target tamsel_codec -j2 >/dev/null

echo "$build_dir/src/lib"
