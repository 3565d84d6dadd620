#!/usr/bin/env bash
# Unpacks Debian's arm64 packages into a folder without installing them, so
# nothing of the host changes but apt's list of architectures: the headers
# the aarch64 wheels are built against (scripts/wheels.sh), and the
# interpreter they are tested with under qemu-aarch64
# (scripts/ci/aarch64_wheels.sh).
# Usage: scripts/debian-arm64.sh [--with-depends] DEST PACKAGE...
#   --with-depends  also every arm64 package they depend on, recursively
# The packages end up unpacked in DEST/root; the .deb files stay in DEST/debs,
# and a package already there is not downloaded again.
set -euo pipefail
with_depends=0
if [ "${1:-}" = --with-depends ]; then
  with_depends=1
  shift
fi
if [ $# -lt 2 ]; then
  echo "usage: $0 [--with-depends] DEST PACKAGE..." >&2
  exit 2
fi
dest=$1
shift

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  $SUDO dpkg --add-architecture arm64
  $SUDO apt-get update -qq
elif ! apt-cache show libc6:arm64 >/dev/null 2>&1; then
  $SUDO apt-get update -qq
fi

packages=()
for package in "$@"; do
  packages+=("$package:arm64")
done
if [ "$with_depends" = 1 ]; then
  # Top-level lines of the recursive listing are the packages themselves;
  # those of architecture "all" (data, maintainer scripts) are not needed
  # to run anything and are left out.
  mapfile -t packages < <(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
      --no-breaks --no-replaces --no-enhances "${packages[@]}" |
    grep -E '^[a-z0-9][^ ]*:arm64$' | sort -u)
fi

mkdir -p "$dest/debs" "$dest/root"
missing=()
for package in "${packages[@]}"; do
  name=${package%:arm64}
  compgen -G "$dest/debs/${name}_*_arm64.deb" >/dev/null || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  # apt's own downloader drops to its user, which may not write here.
  (cd "$dest/debs" && apt-get download -qq "${missing[@]}" 2> >(grep -v "unsandboxed as root" >&2))
fi
for package in "${packages[@]}"; do
  name=${package%:arm64}
  dpkg-deb -x "$(compgen -G "$dest/debs/${name}_*_arm64.deb" | head -1)" "$dest/root"
done
