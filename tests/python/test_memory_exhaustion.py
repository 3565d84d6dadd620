"""Running out of memory inside the transform is contained: the call raises
RuntimeError and the next call works. Runs in a subprocess whose address
space is capped."""
import pytest

from conftest import run_python

CHILD = """
    import resource, tamsel_codec

    def status(key):
        with open("/proc/self/status") as lines:
            return next(int(line.split()[1]) * 1024 for line in lines if line.startswith(key + ":"))

    payload = {payload}
    cap = status("VmSize") + ({room})
    resource.setrlimit(resource.RLIMIT_AS, (cap, cap))
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")  # the peak resident size starts again from here
    before = status("VmRSS")
    try:
        tamsel_codec.columnarize(payload)
    except RuntimeError as error:
        print("contained:", error)
    else:
        print("no failure")
    print((status("VmHWM") - before) >> 20)
    del payload
    print("next:", tamsel_codec.columnarize(b'[{{"a":1}},{{"a":2}}]').decode())
"""


@pytest.mark.parametrize(
    "payload, room, peak_mib",
    [
        # 48 MB of tiny rows needs several times that in parsed form: more
        # than the cap leaves, while the payload and its copy still fit.
        ("""b"[" + b",".join([b'{"a":1}'] * 6_000_000) + b"]\"""", "3 * len(payload)", 1 << 10),
        # 20,000 rows of a key each: 320 KB whose output would be 2 GB (rows
        # x columns, nulls between), refused before any of it is touched.
        ("""b"[" + b",".join(b'{"k%d":%d}' % (i, i) for i in range(20_000)) + b"]\"""", "1 << 30", 64),
    ],
    ids=["parsed-tree-past-the-cap", "rows-by-columns-output-past-the-cap"],
)
def test_exhausted_memory_is_a_contained_runtime_error(payload, room, peak_mib):
    result = run_python(CHILD.format(payload=payload, room=room))
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0] == "contained: internal panic during columnarization: memory allocation failed"
    assert int(lines[1]) < peak_mib
    assert lines[2] == 'next: {"columns":["a"],"rows":[[1],[2]],"constants":{}}'
    assert "memory allocation failed" in result.stderr  # the fault report
