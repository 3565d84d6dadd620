"""The allocation-failure sweep of one payload, run in a child interpreter
that imports the allocation-failure build of the module (see
test_allocation_failure.py). Prints one JSON line: what was seen."""
import ctypes
import gc
import json
import sys
import tracemalloc

PANIC_PREFIX = "internal panic during columnarization: "


def _large_rows(rows):
    return b"[" + b",".join(
        b'{"id":%d,"name":"row-%d-with-some-text","flag":true,"v":[%d,null]}' % (i, i, i)
        for i in range(rows)) + b"]"


def _outgrowing_rows(rows):
    # 1e15 is written back in full: the output outgrows the size estimate.
    return b"[" + b",".join(
        b'{"a":1e15,"b":%s}' % (b"2e15" if i % 2 else b"3e15") for i in range(rows)) + b"]"


def _distinct_keys(keys):
    return b"[{" + b",".join(b'"k%d":%d' % (i, i) for i in range(keys)) + b"}]"


# Payloads with a result; every other one fails with a message of its own.
VALID = {"small", "empty_rows", "large_output", "outgrows_estimate", "deep_nesting", "distinct_keys_100000"}

# name: (payload, large). Large payloads are sampled in the short form.
PAYLOADS = {
    "small": (b'[{"a":1,"b":"x","c":null},{"a":1,"b":"y\\u00e9","d":[1,{"e":2.5}]}]', False),
    "empty_rows": (b"[]", False),
    "large_output": (_large_rows(3000), True),
    "outgrows_estimate": (_outgrowing_rows(6000), True),
    "deep_nesting": (b'[{"a":' + b"[" * 125 + b"1" + b"]" * 125 + b"}]", False),  # as deep as it goes
    "distinct_keys_100000": (_distinct_keys(100_000), True),
    "empty": (b"", False),
    "eof_value": (b"[1,", False),
    "eof_list": (b"[1", False),
    "eof_object": (b'[{"a":1', False),
    "eof_string": (b'["abc', False),
    "expected_value": (b"[x]", False),
    "expected_ident": (b"[nul]", False),
    "expected_comma_bracket": (b"[1 2]", False),
    "expected_comma_brace": (b'[{"a":1 "b":2}]', False),
    "expected_colon": (b'[{"a" 1}]', False),
    "key_not_string": (b"[{1:2}]", False),
    "trailing_comma": (b"[1,]", False),
    "trailing_characters": (b"[] x", False),
    "recursion_limit": (b"[" * 200, False),
    "invalid_number": (b"[01]", False),
    "number_out_of_range": (b"[1e400]", False),
    "control_character": (b'["a\x01"]', False),
    "invalid_escape": (b'["\\q"]', False),
    "lone_surrogate": (b'["\\udc00"]', False),
    "unexpected_end_of_hex_escape": (b'["\\ud800x"]', False),
    "invalid_code_point": (b'["\xff"]', False),
    "not_an_array": (b'{"a":"a long enough string that is kept"}', False),
    "top_level_string": (b'"a long enough string that is kept"', False),
    "row_not_object": (b'[{"a":1},[1,2,{"b":"a long enough string"}]]', False),
    "row_is_number": (b"[1]", False),
}


def points_to_fail(points, sampled):
    """1 .. points + 1 (the last one fails nothing), or for a sampled sweep
    the first and last 8 points and about 16 spread between them."""
    if not sampled or points <= 32:
        return list(range(1, points + 2))
    step = points // 16
    return sorted(set(range(1, 9)) | set(range(9, points - 7, step)) | set(range(points - 7, points + 2)))


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
                 "uordblks", "fordblks", "keepcost")]


def native_heap_bytes():
    """Bytes the C allocator has handed out and not had back."""
    libc = ctypes.CDLL(None)
    libc.mallinfo2.restype = _MallInfo2
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


def main(name, sampled):
    import tamsel_codec

    payload = PAYLOADS[name][0]

    def outcome():
        try:
            return ["ok", tamsel_codec.columnarize(payload).decode("utf-8", "replace")]
        except BaseException as error:  # noqa: BLE001 -- every kind is recorded
            kind = type(error)
            return [f"{kind.__module__}.{kind.__qualname__}", str(error)]

    reference = outcome()
    points = tamsel_codec._allocation_points()
    allowed = [
        reference,
        ["builtins.RuntimeError", PANIC_PREFIX + "memory allocation failed"],
        ["builtins.MemoryError", ""],  # the payload copy or the result object
    ]
    refs_before = sys.getrefcount(payload)
    seen = {}
    escaped = []

    def sweep():
        for n in points_to_fail(points, sampled):
            tamsel_codec._fail_allocation(n)
            got = outcome()
            failed_one = tamsel_codec._allocation_points() >= n
            if got not in allowed or (not failed_one and got != reference):
                escaped.append([n, "outcome", got])
            kind = "reference" if got == reference else got[0]
            seen[kind] = seen.get(kind, 0) + 1
            after = outcome()
            if after != reference:
                escaped.append([n, "next call", after])

    sweep()  # warm-up: whatever is made once per process is made now
    gc.collect()
    tracemalloc.start()
    heap, resident = native_heap_bytes(), resident_bytes()
    sweep()
    gc.collect()
    python_growth = tracemalloc.get_traced_memory()[0]
    tracemalloc.stop()
    print(json.dumps({
        "reference": reference[0],
        "points": points,
        "calls": 2 * len(points_to_fail(points, sampled)),
        "seen": seen,
        "escaped": escaped[:10],
        "refcount_growth": sys.getrefcount(payload) - refs_before,
        "python_growth": python_growth,
        "heap_growth": native_heap_bytes() - heap,
        "resident_growth": resident_bytes() - resident,
    }))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2] == "sampled")
