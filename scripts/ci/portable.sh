#!/usr/bin/env bash
# CI: the C++ tests with every wide-word routine and every Linux-specific
# call switched off (TAMSEL_PORTABLE), so the plain paths run on x86-64.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh

echo "== C++ tests, portable build"
cmake -S . -B build/portable -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAMSEL_BUILD_TESTS=ON \
  -DTAMSEL_BUILD_CLI=OFF -DTAMSEL_PORTABLE=ON >/dev/null
cmake --build build/portable -j 2
ctest --test-dir build/portable --output-on-failure -j 2
