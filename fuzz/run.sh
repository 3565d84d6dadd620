#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each one for SECONDS (default
# 60) over a fresh copy of its seed corpus, the time split between the
# kernels (TAMSEL_KERNEL): every one the build has and the processor runs,
# as the library itself tells, the corpus carried from one kernel's run to
# the next. Exits non-zero on
# any finding; the crashing input is left under build/fuzz/artifacts/<target>/.
# Usage: fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_EACH=${1:-60}
CLANG_VERSION=16
BUILD=build/fuzz

# Debian's clang 16 with its libFuzzer runtime (clang 14 cannot compile the
# core against this libstdc++: it lacks the builtin behind source_location).
scripts/install-deps.sh "clang-$CLANG_VERSION" "libclang-rt-$CLANG_VERSION-dev"

CC="clang-$CLANG_VERSION" CXX="clang++-$CLANG_VERSION" \
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMSEL_BUILD_FUZZ=ON \
  -DTAMSEL_BUILD_CLI=OFF -DTAMSEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target fuzz_reader fuzz_transform
mapfile -t KERNELS < <(TAMSEL_LIST_KERNELS=1 "$BUILD/fuzz/fuzz_reader")
[ ${#KERNELS[@]} -gt 0 ] || { echo "fuzz_reader names no kernel to run" >&2; exit 1; }
SECONDS_PER_KERNEL=$(( (SECONDS_EACH + ${#KERNELS[@]} - 1) / ${#KERNELS[@]} ))

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

for target in reader transform; do
  corpus="$BUILD/corpus/$target"
  artifacts="$BUILD/artifacts/$target"
  rm -rf "$corpus" "$artifacts"
  mkdir -p "$corpus" "$artifacts"
  cp fuzz/seeds/"$target"/* "$corpus"/
  for kernel in "${KERNELS[@]}"; do
    echo "== fuzz_$target, $kernel kernel, for ${SECONDS_PER_KERNEL}s"
    log="$BUILD/fuzz_${target}_$kernel.log"
    TAMSEL_KERNEL=$kernel "$BUILD/fuzz/fuzz_$target" "$corpus" -dict=fuzz/json.dict -max_len=4096 -timeout=10 \
      -rss_limit_mb=2048 -max_total_time="$SECONDS_PER_KERNEL" -print_final_stats=1 \
      -artifact_prefix="$artifacts/" 2>"$log" || {
      tail -n 60 "$log" >&2
      echo "fuzz_$target ($kernel kernel) found a problem; see $log and $artifacts/" >&2
      exit 1
    }
    grep -E '^(Done|stat::number_of_executed_units|#[0-9]+ +DONE)' "$log" || true
  done
done
