#!/usr/bin/env bash
# Prints the path of the one interpreter that a single-interpreter step
# (stress, sanitized or allocation-failure builds of the module) uses:
# $PYTHON if set, else the free-threaded interpreter scripts/find_pythons.sh
# finds, else the newest it finds.
set -euo pipefail
if [ -n "${PYTHON:-}" ]; then
  command -v "$PYTHON"
  exit 0
fi
"$(dirname "$0")/find_pythons.sh" | awk '{ last = $4 } $2 == "free-threaded" { ft = $4 }
  END { if (ft) print ft; else if (last) print last; else exit 1 }' || {
  echo "error: no supported Python interpreter (CPython 3.11 or newer) found" >&2
  exit 1
}
