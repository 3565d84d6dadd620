"""Running out of memory inside the transform is contained: the call raises
RuntimeError and the next call works. Runs in a subprocess whose address
space is capped."""
from conftest import run_python


def test_exhausted_memory_is_a_contained_runtime_error():
    result = run_python("""
        import resource, tamsel_codec

        def address_space():
            with open("/proc/self/status") as status:
                for line in status:
                    if line.startswith("VmSize:"):
                        return int(line.split()[1]) * 1024

        # 48 MB of tiny rows needs several times that in parsed form: more
        # than the cap leaves, while the payload and its copy still fit.
        payload = b"[" + b",".join([b'{"a":1}'] * 6_000_000) + b"]"
        cap = address_space() + 3 * len(payload)
        resource.setrlimit(resource.RLIMIT_AS, (cap, cap))
        try:
            tamsel_codec.columnarize(payload)
        except RuntimeError as error:
            print("contained:", error)
        else:
            print("no failure")
        del payload
        print("next:", tamsel_codec.columnarize(b'[{"a":1},{"a":2}]').decode())
    """)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0] == "contained: internal panic during columnarization: memory allocation failed"
    assert lines[1] == 'next: {"columns":["a"],"rows":[[1],[2]],"constants":{}}'
    assert "memory allocation failed" in result.stderr  # the fault report
