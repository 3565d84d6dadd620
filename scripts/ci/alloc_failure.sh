#!/usr/bin/env bash
# CI: every allocation point of a call failed in turn, in the module as
# Python sees it (the transform alone is swept in scripts/ci/portable.sh).
# Large payloads are sampled; TAMSEL_ALLOC_SWEEP=full fails every point.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh

echo "== Allocation failures in the module"
python=$(scripts/pick-python.sh)
# pytest in a venv of this build's own, never in the interpreter itself.
venv=build/alloc-venv
if [ ! -x "$venv/bin/python" ]; then
  "$python" -m venv "$venv"
  "$venv/bin/python" -m pip install --quiet --disable-pip-version-check pytest
fi
PYTHON="$python" bash tests/python/build_alloc_failure_module.sh build/alloc-module >/dev/null
TAMSEL_ALLOC_FAIL_BUILD="$PWD/build/alloc-module" \
  "$venv/bin/python" -m pytest tests/python/test_allocation_failure.py -q
