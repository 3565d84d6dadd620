#!/usr/bin/env bash
# Builds the release files into build/wheels/dist: the sdist and, from it,
# for each supported CPython found here (as scripts/find_pythons.sh finds
# them: $PYTHONS, or python3.11 ... python3.14t on PATH and pyenv's
# versions):
# - a manylinux_2_17 wheel for x86-64, and for aarch64 where the
#   interpreter's headers for aarch64 can be had from Debian (3.11), built
#   with zig's clang (the `ziglang` package, through cmake/zig.cmake), which
#   links against glibc 2.17's symbols and links its own C++ library in;
# - a manylinux_2_34 wheel for x86-64, built with the system's g++ as a
#   plain `pip install .` is, against the system's libstdc++: pip on a
#   system with glibc 2.34 or newer prefers it, and it is the faster build
#   (README, Release wheels).
#
# Each wheel is tagged as it is built (the 2_17 ones also by the older name
# manylinux2014, for pip before 20.3), and then checked: `auditwheel show`
# finds it consistent with that policy, its module needs no glibc symbol
# newer than the policy's and exports nothing but PyInit_tamsel_codec, and
# `twine check` passes on every file. (`auditwheel repair` would tag them
# too, but only for the host's architecture.) build/wheels/wheels.txt lists
# the wheels: file, architecture, interpreter, policy, newest glibc symbol.
#
#   WHEEL_ARCHS="x86_64 aarch64" (default) chooses the architectures.
# Exits non-zero if any wheel failed to build or to pass a check.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=build/wheels
tools=build/wheel-tools
glibc=2.17
# The system compiler's wheels: what Debian 12, which builds them, has.
system_glibc=2.34
archs=${WHEEL_ARCHS:-x86_64 aarch64}
export CMAKE_BUILD_PARALLEL_LEVEL=${JOBS:-2}
export PIP_DISABLE_PIP_VERSION_CHECK=1
# zig keeps its build of libc++ (a minute and a half per target and mode)
# and every object it compiled in this cache, so each interpreter after the
# first, and each later run or CI step, compiles only what changed. Fixed
# here so that the builds pip starts all see the same one.
export ZIG_GLOBAL_CACHE_DIR=${ZIG_GLOBAL_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/zig}
# zig's cache does what ccache does for the system compiler, which keeps
# the launcher it was given.
system_launcher=${CMAKE_CXX_COMPILER_LAUNCHER:-}
unset CMAKE_CXX_COMPILER_LAUNCHER

scripts/find_pythons.sh >build/wheel-pythons.txt
if [ ! -s build/wheel-pythons.txt ]; then
  echo "error: no supported Python (CPython 3.11 or newer) found" >&2
  exit 1
fi

# pip, without the notes this machine's configuration adds to every call.
quiet_pip() {
  "$@" 2> >(grep -v "^WARNING: Location" >&2)
}

# The tools live in a virtual environment of their own. The zig and
# auditwheel versions are fixed: the first decides what the wheels need of
# the system, the second what policies it checks against.
pinned=(ziglang==0.17.1 auditwheel==6.8.2)
read -r _ _ _ tools_python <build/wheel-pythons.txt
if ! "$tools/bin/python" - "${pinned[@]}" <<'EOF' 2>/dev/null; then
import sys
from importlib.metadata import version
import build, twine  # noqa: F401
sys.exit(any(version(name) != want for name, want in (p.split("==") for p in sys.argv[1:])))
EOF
  rm -rf "$tools"
  "$tools_python" -m venv "$tools"
  quiet_pip "$tools/bin/python" -m pip install --quiet "${pinned[@]}" twine build
fi
TAMSEL_ZIG=$("$tools/bin/python" -c "import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), 'zig'))")
export TAMSEL_ZIG

rm -rf "$out"
mkdir -p "$out/dist" "$out/src"
echo "== sdist"
"$tools/bin/python" -m build --sdist --outdir "$out/dist" . >"$out/sdist.log" 2>&1 ||
  { cat "$out/sdist.log"; exit 1; }
# Every wheel comes from the unpacked sdist, so a file it lacks fails them.
tar xzf "$out"/dist/*.tar.gz -C "$out/src"
src=$(echo "$root/$out"/src/tamsel_codec-*/)
src=${src%/}

# Makes the folder that lets the host build for aarch64 against Debian's
# arm64 build of CPython 3.X: its headers, with the aarch64 pyconfig.h in place
# of Debian's one that picks by architecture. Prints the folder.
aarch64_headers() {
  local minor=$1
  local cross=$root/$out/aarch64-cp3$minor debian=$root/build/debian-arm64
  scripts/debian-arm64.sh "$debian" "libpython3.$minor-dev" "libpython3.$minor-stdlib" \
    "libpython3.$minor-minimal" >&2 || return 1
  cp -r "$debian/root/usr/include/python3.$minor" "$cross" &&
    cp "$debian/root/usr/include/aarch64-linux-gnu/python3.$minor/pyconfig.h" "$cross/" || return 1
  echo "$cross"
}

# Checks a wheel built for glibc GLIBC; appends its line to wheels.txt.
check_wheel() {
  local wheel=$1 arch=$2 tag=$3 glibc=$4 policy so objdump=objdump newest exports
  case "$(basename "$wheel")" in
    *[-.]manylinux_${glibc/./_}_$arch[.]*) ;;
    *) echo "$(basename "$wheel"): not tagged manylinux_${glibc/./_}_$arch"; return 1 ;;
  esac
  policy=$("$tools/bin/auditwheel" show "$wheel" 2>/dev/null |
           grep -o '"manylinux_[0-9]*_[0-9]*_[a-z0-9_]*"' | head -1 | tr -d '"') || true
  if [ "$policy" != "manylinux_${glibc/./_}_$arch" ]; then
    echo "$(basename "$wheel"): auditwheel show names ${policy:-no policy}, not manylinux_${glibc/./_}_$arch"
    return 1
  fi
  rm -rf "$out/check" && mkdir -p "$out/check"
  "$tools/bin/python" -m zipfile -e "$wheel" "$out/check"
  so=$(echo "$out"/check/tamsel_codec.*.so)
  if [ "$(basename "$so")" != "tamsel_codec.cpython-${tag#cp}-$arch-linux-gnu.so" ]; then
    echo "$(basename "$wheel"): module named $(basename "$so")"
    return 1
  fi
  [ "$arch" = x86_64 ] || objdump=$arch-linux-gnu-objdump
  command -v "$objdump" >/dev/null || objdump=objdump
  newest=$("$objdump" -T "$so" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -V | tail -1)
  if [ "$(printf '%s\n' "$newest" "$glibc" | sort -V | tail -1)" != "$glibc" ]; then
    echo "$(basename "$wheel"): needs glibc $newest"
    return 1
  fi
  # Names in the namespace std are the C++ library's own (with g++, the
  # system's libstdc++ declares some of its types' vtables and a few
  # template objects visible, so that one copy serves the whole process),
  # not the module's.
  exports=$("$objdump" -T "$so" | awk '/ D[FO] / && !/\*UND\*/ && $NF !~ /^_Z(TV|TI|TS|ZN|N)?St/ { print $NF }' |
            tr '\n' ' ')
  if [ "$exports" != "PyInit_tamsel_codec " ]; then
    echo "$(basename "$wheel"): exports $exports"
    return 1
  fi
  echo "$(basename "$wheel") $arch $tag $policy $newest" >>"$out/wheels.txt"
}

# Builds one wheel from the sdist with zig for ARCH into dist/ and checks
# it. Extra arguments go to pip.
build_wheel() {
  local python=$1 tag=$2 arch=$3
  shift 3
  local log=$out/$tag-$arch.log wheel python_tag=${tag%t}
  echo "== $tag $arch: $python"
  if ! quiet_pip "$python" -m pip wheel --no-deps --quiet -w "$out/dist" "$src" \
         -C cmake.define.CMAKE_TOOLCHAIN_FILE="$src/cmake/zig.cmake" \
         -C cmake.define.TAMSEL_ZIG_TARGET="$arch-linux-gnu.$glibc" \
         -C build-dir="build-wheel/$tag-$arch-zig" \
         -C wheel.tags="$python_tag-$tag-manylinux_${glibc/./_}_$arch" \
         -C wheel.tags="$python_tag-$tag-manylinux2014_$arch" "$@" >"$log" 2>&1; then
    cat "$log"
    echo "$tag $arch: build failed"
    return 1
  fi
  wheel=$(ls "$out"/dist/*-"$python_tag-$tag"-*manylinux_${glibc/./_}_"$arch".whl)
  check_wheel "$wheel" "$arch" "$tag" "$glibc"
}

# Builds one x86-64 wheel from the sdist with the system's compiler into
# dist/, tagged for the glibc it was built against, and checks it.
build_system_wheel() {
  local python=$1 tag=$2 log=$out/$tag-x86_64-system.log wheel python_tag=${tag%t}
  echo "== $tag x86_64, system compiler: $python"
  if ! CMAKE_CXX_COMPILER_LAUNCHER=$system_launcher quiet_pip "$python" -m pip wheel --no-deps --quiet \
         -w "$out/dist" "$src" -C build-dir="build-wheel/$tag-x86_64-system" \
         -C wheel.tags="$python_tag-$tag-manylinux_${system_glibc/./_}_x86_64" >"$log" 2>&1; then
    cat "$log"
    echo "$tag x86_64 (system compiler): build failed"
    return 1
  fi
  wheel=$(ls "$out"/dist/*-"$python_tag-$tag"-manylinux_${system_glibc/./_}_x86_64.whl)
  check_wheel "$wheel" x86_64 "$tag" "$system_glibc"
}

: >"$out/wheels.txt"
: >"$out/not-built.txt"
status=0
# The list comes in on descriptor 3, out of reach of what the loop runs.
while read -r -u 3 version build tag python; do
  for arch in $archs; do
    case "$arch" in
      x86_64)
        build_wheel "$python" "$tag" x86_64 || status=1
        build_system_wheel "$python" "$tag" || status=1 ;;
      aarch64)
        # Debian 12 carries the arm64 build of 3.11 only.
        if [ "$tag" != cp311 ]; then
          echo "$tag aarch64: no arm64 build of CPython ${version%.*} (headers and interpreter) in Debian 12" >>"$out/not-built.txt"
          continue
        fi
        minor=$(echo "$version" | cut -d. -f2)
        headers=$(aarch64_headers "$minor") || { status=1; continue; }
        # The host interpreter of the same version runs the build; the
        # extension suffix it cannot know is given as for any cross build.
        SETUPTOOLS_EXT_SUFFIX=.cpython-${tag#cp}-aarch64-linux-gnu.so build_wheel "$python" "$tag" aarch64 \
          -C cmake.define.Python_INCLUDE_DIR="$headers" || status=1 ;;
      *) echo "unknown architecture in WHEEL_ARCHS: $arch" >&2; exit 2 ;;
    esac
  done
done 3<build/wheel-pythons.txt

echo "== twine check"
"$tools/bin/twine" check --strict "$out"/dist/* || status=1

echo
echo "== Wheels (build/wheels/dist)"
awk '{ printf "%-62s %-8s %-7s %-24s glibc %s\n", $1, $2, $3, $4, $5 }' "$out/wheels.txt"
sed 's/^/not built: /' "$out/not-built.txt"
exit $status
