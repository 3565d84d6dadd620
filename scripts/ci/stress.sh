#!/usr/bin/env bash
# The short stress run, on the module as scripts/test.sh installed it: in the
# free-threaded interpreter's environment when one was tested, otherwise in
# the newest interpreter's.
set -euo pipefail
cd "$(dirname "$0")/../.."

list=build/pythons.txt
if [ ! -s "$list" ]; then
  echo "error: $list is missing: run scripts/test.sh first" >&2
  exit 1
fi
# build/python/<line number>-<tag>/venv, as scripts/test.sh lays them out.
line=$(grep -n " free-threaded " "$list" | tail -1 | cut -d: -f1 || true)
[ -n "$line" ] || line=$(wc -l <"$list")
read -r version build tag python < <(sed -n "${line}p" "$list")
venv_python=build/python/$line-$tag/venv/bin/python

echo "== Stress run (short form) on Python $version, $build build: $python"
"$venv_python" tests/stress/stress.py --quick
