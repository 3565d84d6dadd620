#!/usr/bin/env bash
# CI: the C++ tests with every wide-word routine and every Linux-specific
# call switched off (TAMSEL_PORTABLE), so the plain paths run on x86-64.
# The same build sweeps allocation failures through the transform under
# AddressSanitizer: with every buffer from the C allocator, LeakSanitizer
# sees a leak of any size (it does not track mapped memory).
# TAMSEL_ALLOC_SWEEP=full fails every point of the large payloads too.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh

echo "== C++ tests, portable build, AddressSanitizer, allocation failures"
cmake -S . -B build/portable-asan -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAMSEL_BUILD_TESTS=ON \
  -DTAMSEL_BUILD_CLI=OFF -DTAMSEL_PORTABLE=ON -DTAMSEL_SANITIZE=ON -DTAMSEL_ALLOC_FAILURE=ON >/dev/null
cmake --build build/portable-asan -j 2
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/portable-asan --output-on-failure -j 2
