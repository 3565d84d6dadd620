"""Every allocation point of a call failed in turn, in the test-only build
(TAMSEL_ALLOC_FAIL_BUILD): each call gives its correct result, the failure
its payload gives anyway, RuntimeError for memory exhausted in the
transform, MemoryError for the payload copy or the result object; never a
crash, another message or a wrong result. The next
call is correct, and repeating the sweep leaks nothing. The same build's
stand-in for a memory limit: a large buffer past it fails the same way,
before its memory is touched.

TAMSEL_ALLOC_SWEEP=full fails every point of the large payloads too; by
default they fail a sample of their points."""
import json
import os
import pathlib
import subprocess
import sys

import pytest

from allocation_sweep import PANIC_PREFIX, PAYLOADS, VALID
from conftest import run_python

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


# Payloads for the memory limit, each made by the child: each row has a key
# of its own, so the output is rows x columns (4000 rows: 80 MB from a 60 KB
# payload); and a payload whose copy alone is 70 MB.
ROWS_BY_COLUMNS = """b"[" + b",".join(b'{"k%d":%d}' % (i, i) for i in range(4000)) + b"]\""""
LARGE_COPY = """b'[{"s":"' + b"x" * (70 << 20) + b'"}]'"""

LIMITED = """
    import tamsel_codec

    def status(key):
        with open("/proc/self/status") as lines:
            return next(int(line.split()[1]) << 10 for line in lines if line.startswith(key + ":"))

    payload = {payload}
    small = b'[{{"a":1}},{{"a":2}}]'
    tamsel_codec.columnarize(small)
    tamsel_codec._limit_memory({limit})
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")  # the peak resident size starts again from here
    before = status("VmRSS")
    try:
        out = tamsel_codec.columnarize(payload)
    except Exception as error:
        print(f"{{type(error).__name__}}: {{error}}")
    else:
        tamsel_codec._limit_memory(None)
        print("same" if out == tamsel_codec.columnarize(payload) else "differs")
    print((status("VmHWM") - before) >> 20)
    print(tamsel_codec.columnarize(small).decode())
"""


@pytest.mark.parametrize(
    "payload, limit, outcome, peak_mib",
    [
        (ROWS_BY_COLUMNS, 64 << 20, "RuntimeError: " + PANIC_PREFIX + "memory allocation failed", 16),
        (ROWS_BY_COLUMNS, 1 << 30, "same", 1 << 10),  # fits: the limit changes nothing
        (LARGE_COPY, 64 << 20, "MemoryError: ", 16),  # the payload copy
    ],
    ids=["output-past-the-limit", "output-within-the-limit", "payload-copy-past-the-limit"],
)
def test_a_buffer_past_the_memory_limit_fails_before_it_is_touched(alloc_failure_dir, payload, limit, outcome,
                                                                   peak_mib):
    child = run_python(LIMITED.format(payload=payload, limit=limit), module_dir=alloc_failure_dir)
    assert child.returncode == 0, child.stderr[-2000:]
    got, peak_growth, after = child.stdout.splitlines()
    assert got == outcome
    assert int(peak_growth) < peak_mib
    assert after == '{"columns":["a"],"rows":[[1],[2]],"constants":{}}'
