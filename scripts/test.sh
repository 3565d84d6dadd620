#!/usr/bin/env bash
# Builds everything and runs every test:
#   1. the C++ tests (ctest), once per kernel;
#   2. the release files, made by scripts/wheels.sh: an sdist, and from it a
#      manylinux_2_17 wheel for each supported CPython found here
#      (python3.11 ... python3.14t on PATH, pyenv's versions, or the list in
#      $PYTHONS), for x86-64 and aarch64; each x86-64 wheel is installed into
#      a fresh virtual environment where the pytest suite runs against it,
#      the fault-hook tests included (the aarch64 ones are tested under qemu
#      by scripts/ci/aarch64_wheels.sh);
#   3. a table: interpreter, build, passed, failed, skipped, wheel policy.
# Exits non-zero if anything failed or no supported interpreter was found.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
JOBS=${JOBS:-2}
scripts/install-deps.sh

# The core is the same for every interpreter: compile it once, not once per
# fault-hook build. Paths are hashed relative to the checkout, so a fresh
# clone hits too. (The wheels are built with zig, which caches for itself.)
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
  export CCACHE_BASEDIR=$root
fi
export CMAKE_BUILD_PARALLEL_LEVEL=$JOBS
export PIP_DISABLE_PIP_VERSION_CHECK=1

echo "== C++ tests"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAMSEL_BUILD_TESTS=ON >/dev/null
cmake --build build/release -j "$JOBS"
ctest --test-dir build/release --output-on-failure -j "$JOBS"

echo "== Interpreters"
scripts/find_pythons.sh >build/pythons.txt
if [ ! -s build/pythons.txt ]; then
  echo "error: no supported Python (CPython 3.11 or newer) found: put python3.11 ... python3.14t on PATH," >&2
  echo "install one with pyenv, or name interpreters in PYTHONS" >&2
  exit 1
fi
while read -r version build tag python; do
  echo "  $version $build  $python"
done <build/pythons.txt
grep -q " free-threaded " build/pythons.txt ||
  echo "No free-threaded interpreter found: tests that only mean something there are reported as skipped."

# pip, without the notes this machine's configuration adds to every install.
quiet_pip() {
  local python=$1
  shift
  "$python" -m pip install --quiet "$@" 2> >(grep -v "^WARNING: Location" >&2)
}

echo "== Release files (scripts/wheels.sh)"
wheels_status=0
scripts/wheels.sh || wheels_status=1
dist=build/wheels/dist
# Every wheel came from the same unpacked sdist; its tests, README and
# examples are the ones checked, so a file left out of the sdist fails.
sdist_src=$(echo build/wheels/src/tamsel_codec-*/)
sdist_src=${sdist_src%/}

work=build/python
rm -rf "$work"
mkdir -p "$work"

# One line per interpreter: label, build, passed, failed, skipped, policy,
# seconds.
summary=$work/summary.txt
: >"$summary"
status=$wheels_status
n=0
# The list comes in on descriptor 3, out of reach of what the loop runs.
while read -r -u 3 version build tag python; do
  n=$((n + 1))
  # cp314 and cp314t wheels share the interpreter part of their names.
  wheels=$(ls "$dist"/tamsel_codec-*-"${tag%t}-$tag"-*x86_64.whl 2>/dev/null) || true
  if [ -z "$wheels" ]; then
    echo "no x86-64 wheel for $tag in $dist"
    echo "$version ($python) $build - - - build-failed -" >>"$summary"
    status=1
    continue
  fi
  # Each x86-64 wheel of this interpreter: the manylinux_2_17 one and the
  # manylinux_2_34 one (scripts/wheels.sh).
  for wheel in $wheels; do
    # build/python/<line of build/pythons.txt>-<tag> holds the run of the
    # wheel pip on a current system installs (later CI steps use its venv),
    # and a folder beside it the run of the manylinux_2_17 one.
    run=$work/$n-$tag
    case "$wheel" in *manylinux_2_17*) run=$run-manylinux_2_17 ;; esac
    venv=$run/venv
    label="$version ($python)"
    started=$SECONDS
    echo "== Python $version, $build build: $python, $(basename "$wheel")"
    if ! { "$python" -m venv "$venv" &&
           quiet_pip "$venv/bin/python" pytest mypy &&
           quiet_pip "$venv/bin/python" --no-deps "$wheel"; }; then
      echo "$label $build - - - setup-failed -" >>"$summary"
      status=1
      continue
    fi
    # The policy auditwheel show found, as scripts/wheels.sh checked it.
    policy=$(awk -v w="$(basename "$wheel")" '$1 == w { print $4 }' build/wheels/wheels.txt)
    policy=${policy:-none}
    # Two levels below the sources, the same for every interpreter, so that
    # ccache sees the same relative paths and reuses the core.
    hooks=$(PYTHON="$root/$venv/bin/python" bash "$sdist_src/tests/python/build_fault_hook_module.sh" \
            "$sdist_src/build-hooks/$(basename "$run")") || { echo "fault-hook module build failed"; status=1; }
    # Run from the unpacked sdist, against the module installed from the wheel.
    (cd "$sdist_src" && TAMSEL_FAULT_HOOK_BUILD="$root/$hooks" "$root/$venv/bin/python" -m pytest \
       tests/python -q -rs -p no:cacheprovider --junitxml="$root/$run/results.xml") || status=1
    counts=$("$venv/bin/python" - "$run/results.xml" <<'EOF'
import sys
import xml.etree.ElementTree as ET
try:
    root = ET.parse(sys.argv[1]).getroot()
except (OSError, ET.ParseError):
    print("- - -")
    raise SystemExit
suite = root if root.tag == "testsuite" else root.find("testsuite")
get = lambda key: int(suite.get(key, 0))
failed = get("failures") + get("errors")
print(get("tests") - failed - get("skipped"), failed, get("skipped"))
EOF
    )
    echo "$label $build $counts $policy $((SECONDS - started))" >>"$summary"
    echo "$(basename "$wheel"): $policy"
  done
done 3<build/pythons.txt

echo
echo "== Summary"
awk 'BEGIN { fmt = "%-58s %-14s %7s %7s %8s  %-22s %8s\n";
             printf fmt, "interpreter", "build", "passed", "failed", "skipped", "wheel policy", "seconds" }
     { printf fmt, $1 " " $2, $3, $4, $5, $6, $7, $8 }' "$summary" | tee "$work/table.txt"
exit $status
