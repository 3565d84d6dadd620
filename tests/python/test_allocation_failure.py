"""Every allocation point of a call failed in turn, in the test-only build
(TAMSEL_ALLOC_FAIL_BUILD): each call gives its correct result, the failure
its payload gives anyway, RuntimeError for memory exhausted in the
transform, MemoryError for the payload copy or the result object; never a
crash, another message or a wrong result. The next
call is correct, and repeating the sweep leaks nothing.

TAMSEL_ALLOC_SWEEP=full fails every point of the large payloads too; by
default they fail a sample of their points."""
import json
import os
import pathlib
import subprocess
import sys

import pytest

from allocation_sweep import PAYLOADS, VALID

HERE = pathlib.Path(__file__).parent

# A second sweep may leave the process this much bigger: room for the
# allocators' own bookkeeping, far less than one leaked buffer per failure.
PYTHON_GROWTH_LIMIT = 16 << 10
HEAP_GROWTH_LIMIT = 256 << 10
RESIDENT_GROWTH_LIMIT = 8 << 20


def sweep(module_dir, name):
    sampled = os.environ.get("TAMSEL_ALLOC_SWEEP") != "full" and PAYLOADS[name][1]
    code = (f"import sys; sys.path[:0] = [{str(module_dir)!r}, {str(HERE)!r}]\n"
            f"import allocation_sweep; allocation_sweep.main({name!r}, {sampled!r})")
    child = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=1800)
    assert child.returncode == 0, f"crashed ({child.returncode}): {child.stderr[-2000:]}"
    return json.loads(child.stdout.splitlines()[-1])


@pytest.mark.parametrize("name", sorted(PAYLOADS))
def test_every_allocation_failure_is_contained(alloc_failure_dir, name):
    seen = sweep(alloc_failure_dir, name)
    assert seen["escaped"] == []
    assert (seen["reference"] == "ok") == (name in VALID), seen["reference"]
    assert seen["points"] > 0
    # A failure at some point did fail the call.
    assert set(seen["seen"]) - {"reference"}, seen
    assert seen["refcount_growth"] == 0
    assert seen["python_growth"] < PYTHON_GROWTH_LIMIT, seen
    assert seen["heap_growth"] < HEAP_GROWTH_LIMIT, seen
    assert seen["resident_growth"] < RESIDENT_GROWTH_LIMIT, seen
