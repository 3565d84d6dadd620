"""A large call's buffers are kept for later calls and given back to the
system once they go unused, as the README states: after 256 calls that need
none, or at the first call a second after the last use. Each case runs in a
fresh process and watches its resident size."""
import pytest

from conftest import run_python

# 30 MB of rows whose one column is constant: the payload copy is touched in
# full and kept, while the output (an empty row each) is small, so the
# resident size moves by about the size of the kept buffers alone.
CHILD = """
    import time, tamsel_codec

    def resident():
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) * 1024

    row = b'{"text":"' + b"x" * 100 + b'"}'
    large = b"[" + b",".join([row] * 270_000) + b"]"
    small = b'[{"a":1},{"a":2}]'
    tamsel_codec.columnarize(large)
    after_large = resident()
    time.sleep({pause})
    for _ in range({calls}):
        tamsel_codec.columnarize(small)
    print((after_large - resident()) // (1 << 20))
"""


@pytest.mark.parametrize(
    "pause, calls, given_back",
    [
        (0, 300, True),  # more than 256 calls without a large buffer
        (0, 100, False),  # still in use
        (1.2, 1, True),  # the first call after a second
    ],
    ids=["after_many_small_calls", "kept_while_in_use", "after_a_second"],
)
def test_kept_buffers_go_back_once_unused(pause, calls, given_back):
    result = run_python(CHILD.replace("{pause}", str(pause)).replace("{calls}", str(calls)))
    assert result.returncode == 0, result.stderr
    dropped_mib = int(result.stdout)
    if given_back:
        assert dropped_mib >= 20
    else:
        assert dropped_mib < 10
