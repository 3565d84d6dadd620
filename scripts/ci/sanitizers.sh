#!/usr/bin/env bash
# The C++ tests again under AddressSanitizer (with leak detection) and
# UndefinedBehaviorSanitizer, once per kernel the processor runs.
set -euo pipefail
cd "$(dirname "$0")/../.."

echo "== C++ tests under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAMSEL_BUILD_TESTS=ON \
  -DTAMSEL_BUILD_CLI=OFF -DTAMSEL_SANITIZE=ON >/dev/null
cmake --build build/sanitize -j 2
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/sanitize --output-on-failure -j 2
