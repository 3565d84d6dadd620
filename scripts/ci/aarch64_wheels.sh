#!/usr/bin/env bash
# CI: every aarch64 wheel scripts/wheels.sh made (build/wheels/dist), each
# installed into Debian's arm64 build of CPython of its version, unpacked
# into a folder with the libraries it needs (never installed on the host),
# and the pytest suite run against it under qemu-aarch64, the fault-hook
# tests included: the fault-hook module is cross-built for aarch64 with the
# wheels' own toolchain (cmake/zig.cmake) and headers.
# Run it after scripts/test.sh (or scripts/wheels.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
scripts/install-deps.sh qemu-user
export PIP_DISABLE_PIP_VERSION_CHECK=1
export ZIG_GLOBAL_CACHE_DIR=${ZIG_GLOBAL_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/zig}
unset CMAKE_CXX_COMPILER_LAUNCHER
tools=build/wheel-tools
debian=$root/build/debian-arm64
work=build/aarch64-wheels

shopt -s nullglob
wheels=(build/wheels/dist/*_aarch64.whl)
if [ ${#wheels[@]} -eq 0 ] || [ ! -x "$tools/bin/python" ]; then
  echo "error: no aarch64 wheel in build/wheels/dist: run scripts/wheels.sh (or scripts/test.sh) first" >&2
  exit 1
fi
TAMSEL_ZIG=$("$tools/bin/python" -c "import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), 'zig'))")
export TAMSEL_ZIG
sdist_src=$(echo build/wheels/src/tamsel_codec-*/)
sdist_src=$root/${sdist_src%/}

rm -rf "$work"
mkdir -p "$work"
status=0
for wheel in "${wheels[@]}"; do
  tag=$(basename "$wheel" | cut -d- -f4)            # cp311
  minor=${tag#cp3}
  echo "== $(basename "$wheel") under qemu-aarch64"
  scripts/debian-arm64.sh --with-depends "$debian" "python3.$minor-minimal" "libpython3.$minor-stdlib"

  # The interpreter under qemu, named by this script: tests that start a
  # fresh interpreter (sys.executable) start it through qemu too. qemu's own
  # note on a guest that aborts is left out, so that what the tests read on
  # standard error is what the guest printed; no core files are written.
  python=$root/$work/python3.$minor
  cat >"$python" <<EOF
#!/usr/bin/env bash
ulimit -c 0
exec qemu-aarch64 -L "$debian/root" -0 "\$0" "$debian/root/usr/bin/python3.$minor" "\$@" \\
  2> >(grep -v "^qemu: uncaught target signal" >&2)
EOF
  chmod +x "$python"

  # The wheel and pytest (pure Python) go where that interpreter looks for
  # installed packages, put there by the host's pip for the target's tags.
  site=$debian/root/usr/local/lib/python3.$minor/dist-packages
  rm -rf "$site"
  "$tools/bin/python" -m pip install --quiet --target "$site" --platform manylinux_2_17_aarch64 \
    --python-version "3.$minor" --implementation cp --abi "$tag" --only-binary=:all: \
    "$wheel" pytest 2> >(grep -v -e "^WARNING: Location" -e "^WARNING: Running pip as" >&2)

  # The fault-hook module for the same interpreter, cross-built as the wheel
  # was; the host's interpreter of that version only runs CMake's FindPython.
  host_python=$(PYTHONS=python3.$minor scripts/find_pythons.sh | awk '{ print $4 }')
  headers=$root/build/wheels/aarch64-$tag
  cmake -S "$sdist_src" -B "$work/hooks-$tag" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$sdist_src/cmake/zig.cmake" -DTAMSEL_ZIG_TARGET=aarch64-linux-gnu.2.17 \
    -DTAMSEL_BUILD_MODULE=ON -DTAMSEL_BUILD_CLI=OFF -DTAMSEL_FAULT_HOOKS=ON \
    -DPython_EXECUTABLE="$host_python" -DPython_INCLUDE_DIR="$headers" \
    -DSKBUILD_SOABI="cpython-3$minor-aarch64-linux-gnu" >/dev/null
  cmake --build "$work/hooks-$tag" --target tamsel_codec -j 2 >/dev/null

  "$python" -c "import platform, tamsel_codec; assert platform.machine() == 'aarch64'; print(tamsel_codec.__file__)"
  # qemu-user ignores a guest's address-space limit (RLIMIT_AS), so the test
  # that caps it to run out of memory cannot run out here.
  (cd "$sdist_src" && TAMSEL_FAULT_HOOK_BUILD="$root/$work/hooks-$tag/src/lib" "$python" -m pytest \
     tests/python -q -rs -p no:cacheprovider \
     --deselect tests/python/test_memory_exhaustion.py::test_exhausted_memory_is_a_contained_runtime_error) ||
    status=1
done
exit $status
