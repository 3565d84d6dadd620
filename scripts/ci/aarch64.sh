#!/usr/bin/env bash
# CI: the C++ library and its tests cross-compiled for aarch64 with Debian's
# cross compiler, GoogleTest built from Debian's sources, and the tests run
# under qemu-user. On aarch64 none of the x86 wide-word routines exist, so
# this runs the plain paths, with the Linux memory calls, on a processor
# where plain char is unsigned.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh g++-aarch64-linux-gnu qemu-user googletest

echo "== C++ tests on aarch64 (qemu-user)"
cmake -S . -B build/aarch64 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
  -DTAMSEL_BUILD_TESTS=ON -DTAMSEL_BUILD_CLI=OFF \
  -DTAMSEL_GTEST_SOURCE_DIR=/usr/src/googletest -Wno-deprecated >/dev/null
cmake --build build/aarch64 -j 2 --target tamsel_tests tamsel_concurrency_tests
file build/aarch64/tests/cpp/tamsel_tests | grep -q 'ARM aarch64'
# One process for all tests: qemu's start-up is paid once.
for tests in tamsel_tests tamsel_concurrency_tests; do
  qemu-aarch64 -L /usr/aarch64-linux-gnu "build/aarch64/tests/cpp/$tests" --gtest_brief=1
done
