#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Usage: scripts/install-deps.sh [extra packages...]
set -euo pipefail
wanted=(g++ cmake ninja-build libgtest-dev ccache "$@")
missing=()
for pkg in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
# cmake and ninja may come from PyPI instead of Debian; either will do.
filtered=()
for pkg in "${missing[@]}"; do
  case "$pkg" in
    cmake) command -v cmake >/dev/null || filtered+=("$pkg") ;;
    ninja-build) command -v ninja >/dev/null || filtered+=("$pkg") ;;
    *) filtered+=("$pkg") ;;
  esac
done
if [ ${#filtered[@]} -gt 0 ]; then
  echo "installing: ${filtered[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${filtered[@]}" >/dev/null
fi
