#!/usr/bin/env bash
# The C++ tests again under AddressSanitizer (with leak detection) and
# UndefinedBehaviorSanitizer, with the AVX2 kernel and, where the processor
# runs it, the AVX-512 one (the kernel comparison tests call the SSE2 one
# too; the portable one runs under AddressSanitizer in portable.sh, and
# every kernel under the fuzzers).
set -euo pipefail
cd "$(dirname "$0")/../.."

echo "== C++ tests under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAMSEL_BUILD_TESTS=ON \
  -DTAMSEL_BUILD_CLI=OFF -DTAMSEL_SANITIZE=ON >/dev/null
cmake --build build/sanitize -j 2
TAMSEL_TEST_KERNELS="avx2 avx512" ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --test-dir build/sanitize --output-on-failure -j 2
