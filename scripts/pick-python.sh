#!/usr/bin/env bash
# Prints the path of the interpreter to build and test the module with:
# $PYTHON if set, else python3.14t, else the newest python3.X on PATH.
set -euo pipefail
for candidate in ${PYTHON:-} python3.14t python3.14 python3.13 python3.12 python3.11 python3; do
  if command -v "$candidate" >/dev/null 2>&1; then
    command -v "$candidate"
    exit 0
  fi
done
echo "error: no python3 found on PATH" >&2
exit 1
