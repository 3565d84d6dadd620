#!/usr/bin/env bash
# CI: the transform on eight threads at once under ThreadSanitizer, in the
# allocation-failure build so that its per-thread counter is checked too.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh

echo "== Concurrency tests under ThreadSanitizer"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMSEL_BUILD_TESTS=ON \
  -DTAMSEL_BUILD_CLI=OFF -DTAMSEL_TSAN=ON -DTAMSEL_ALLOC_FAILURE=ON >/dev/null
cmake --build build/tsan -j 2 --target tamsel_concurrency_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 build/tsan/tests/cpp/tamsel_concurrency_tests
