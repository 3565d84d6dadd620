#!/usr/bin/env bash
# Builds everything and runs every test:
#   1. the C++ tests (ctest), once per kernel;
#   2. an sdist, and from it a wheel for each supported CPython found here
#      (python3.11 ... python3.14t on PATH, pyenv's versions, or the list in
#      $PYTHONS), each installed into a fresh virtual environment where the
#      pytest suite runs against it, the fault-hook tests included;
#   3. a table: interpreter, build, passed, failed, skipped, wheel policy.
# Exits non-zero if anything failed or no supported interpreter was found.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
JOBS=${JOBS:-2}
scripts/install-deps.sh

# The core is the same for every interpreter: compile it once, not once per
# wheel. Paths are hashed relative to the checkout, so a fresh clone hits too.
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

work=build/python
rm -rf "$work"
mkdir -p "$work/dist"

# auditwheel reads the wheels from a virtual environment of its own.
read -r _ _ _ first_python <build/pythons.txt
"$first_python" -m venv "$work/auditwheel"
quiet_pip "$work/auditwheel/bin/python" auditwheel
auditwheel=$work/auditwheel/bin/auditwheel

# One line per interpreter: label, build, passed, failed, skipped, policy,
# seconds.
summary=$work/summary.txt
: >"$summary"
status=0
sdist_src=
n=0
# The list comes in on descriptor 3, out of reach of what the loop runs.
while read -r -u 3 version build tag python; do
  n=$((n + 1))
  run=$work/$n-$tag
  venv=$run/venv
  label="$version ($python)"
  started=$SECONDS
  echo "== Python $version, $build build: $python"
  if ! { "$python" -m venv "$venv" &&
         quiet_pip "$venv/bin/python" build pytest mypy &&
         { [ -n "$sdist_src" ] ||
           "$venv/bin/python" -m build --sdist --outdir "$work/dist" . >"$run.sdist.log" 2>&1 ||
           { cat "$run.sdist.log"; false; }; }; }; then
    echo "$label $build - - - setup-failed -" >>"$summary"
    status=1
    continue
  fi
  # Every wheel comes from the same unpacked sdist, so a file left out of
  # the sdist fails every build and every test that needs it.
  if [ -z "$sdist_src" ]; then
    tar xzf "$work"/dist/*.tar.gz -C "$work"
    sdist_src=$(echo "$work"/tamsel_codec-*/)
    sdist_src=${sdist_src%/}
  fi
  if ! "$venv/bin/python" -m build --wheel --outdir "$run/wheel" "$sdist_src" >"$run.wheel.log" 2>&1 ||
     ! quiet_pip "$venv/bin/python" --no-deps "$run"/wheel/*.whl; then
    cat "$run.wheel.log"
    echo "$label $build - - - build-failed -" >>"$summary"
    status=1
    continue
  fi
  policy=$("$auditwheel" show "$run"/wheel/*.whl 2>/dev/null |
           grep -o '"manylinux_[0-9]*_[0-9]*_[a-z0-9_]*"' | head -1 | tr -d '"') || true
  if [ -z "$policy" ]; then
    echo "auditwheel names no manylinux policy for $(basename "$run"/wheel/*.whl)"
    policy=none
    status=1
  fi
  # Two levels below the sources, as the wheel's own build directory is, so
  # that ccache sees the same relative paths and reuses the core.
  hooks=$(PYTHON="$root/$venv/bin/python" bash "$sdist_src/tests/python/build_fault_hook_module.sh" \
          "$sdist_src/build-hooks/$n-$tag") || { echo "fault-hook module build failed"; status=1; }
  # Run from the unpacked sdist so that its tests, README and examples are
  # the ones checked, against the module installed from the wheel.
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
  echo "$(basename "$run"/wheel/*.whl): $policy"
done 3<build/pythons.txt

echo
echo "== Summary"
awk 'BEGIN { fmt = "%-58s %-14s %7s %7s %8s  %-22s %8s\n";
             printf fmt, "interpreter", "build", "passed", "failed", "skipped", "wheel policy", "seconds" }
     { printf fmt, $1 " " $2, $3, $4, $5, $6, $7, $8 }' "$summary" | tee "$work/table.txt"
exit $status
