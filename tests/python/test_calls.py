import gc
import json
import subprocess
import sys
import threading

import pytest

from tamsel_codec import columnarize


@pytest.mark.parametrize(
    "payload, expected",
    [
        (b"[]", b'{"columns":[],"rows":[],"constants":{}}'),
        (b'[{"a":1,"b":2},{"a":1,"b":3}]', b'{"columns":["b"],"rows":[[2],[3]],"constants":{"a":1}}'),
        (b' [ {"x":null} , {"y":"\\u00e9"} ] \n', b'{"columns":["y"],"rows":[[null],["\xc3\xa9"]],"constants":{}}'),
    ],
)
def test_outputs(payload, expected):
    result = columnarize(payload)
    assert type(result) is bytes and result == expected


@pytest.mark.parametrize(
    "payload, message",
    [
        (b"[1]", "expected a JSON object row, got: 1"),
        (b"", "invalid row-oriented JSON: EOF while parsing a value at line 1 column 0"),
        (b"[1,]", "invalid row-oriented JSON: trailing comma at line 1 column 4"),
        (b"{}", "invalid row-oriented JSON: invalid type: map, expected a sequence at line 1 column 0"),
        (b'["\xff"]', None),
    ],
)
def test_transform_failures_pass_unchanged(payload, message):
    with pytest.raises(RuntimeError) as caught:
        columnarize(payload)
    assert type(caught.value) is RuntimeError
    if message is None:
        assert str(caught.value).startswith("invalid row-oriented JSON: ")
    else:
        assert caught.value.args == (message,)
    assert not hasattr(caught.value, "__notes__")


def _rows(n, seed=0):
    return [{"id": i, "kind": "k", "value": (i * 7 + seed) % 101, "tag": None} for i in range(n)]


def test_threads_calling_concurrently_get_their_own_results():
    payloads = [json.dumps(_rows(500 + t, seed=t)).encode() for t in range(8)]
    expected = [columnarize(p) for p in payloads]
    start = threading.Barrier(8)
    results = [None] * 8

    def work(t):
        start.wait()
        results[t] = [columnarize(payloads[t]) for _ in range(30)]

    threads = [threading.Thread(target=work, args=(t,)) for t in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for t in range(8):
        assert results[t] == [expected[t]] * 30
    decoded = json.loads(expected[0])
    assert decoded["columns"] == ["id", "value"] and decoded["constants"] == {"kind": "k"}


def _collections_during_one_call(payload):
    """How many gc.collect() calls another thread begins and completes while
    one call on `payload` runs."""
    collecting, calling, finished = threading.Event(), threading.Event(), threading.Event()
    result = []

    def call():
        # Begun once this thread is collecting: a thread woken only as the
        # call begins may, on a loaded machine, wait out the whole call for a
        # core, while one already running gets its share of the time.
        collecting.wait()
        calling.set()
        result.append(columnarize(payload))
        finished.set()

    worker = threading.Thread(target=call)
    worker.start()
    collections = 0
    while not finished.is_set():
        began_inside = calling.is_set()
        gc.collect()
        collecting.set()
        if began_inside and not finished.is_set():
            collections += 1
    worker.join()
    assert len(json.loads(result[0])["rows"]) == 400_000
    return collections


def test_long_call_lets_other_threads_stop_the_world():
    # gc.collect() must stop every attached thread (take the GIL, on a
    # default build); it can only finish while the call runs if the call is
    # detached. A call that stayed attached would let at most two through:
    # one begun as it was being entered, one ending as it returned. With
    # four busy processes beside it on two cores, the first call saw 16 to
    # 330; more are tried in case a call finds no core at all.
    payload = json.dumps(_rows(400_000)).encode()
    assert len(payload) > 20_000_000
    counts = []
    while len(counts) < 20 and (not counts or counts[-1] < 3):
        counts.append(_collections_during_one_call(payload))
    assert counts[-1] >= 3, counts


def _large_outputs(n):
    """Payloads of n rows (a hundred kilobytes and more) whose output is
    written straight into the result when it fits the size expected, and
    copied when it does not."""
    # As expected: the output is about the payload less its names.
    plain = [{"i": i, "s": f"v{i}"} for i in range(n)]
    yield (json.dumps(plain, separators=(",", ":")).encode(),
           b'{"columns":["i","s"],"rows":[' + ",".join(f'[{i},"v{i}"]' for i in range(n)).encode()
           + b'],"constants":{}}')
    # Larger than expected: each short float literal is written out in full.
    grown = b"[" + b",".join(b'{"a":%de5}' % (i % 9 + 1) for i in range(n)) + b"]"
    yield (grown, b'{"columns":["a"],"rows":[' + b",".join(b"[%d00000.0]" % (i % 9 + 1) for i in range(n))
           + b'],"constants":{}}')
    # Far smaller than expected: every column is constant.
    same = b"[" + b",".join([b'{"s":"' + b"x" * 40 + b'","k":1}'] * n) + b"]"
    yield same, b'{"columns":[],"rows":[' + b",".join([b"[]"] * n) + b'],"constants":{"s":"' + b"x" * 40 + b'","k":1}}'


@pytest.mark.parametrize("payload,expected", [case for n in (8_000, 150_000) for case in _large_outputs(n)],
                         ids=[f"{what}-{n}" for n in (8_000, 150_000) for what in ("as-expected", "grown", "shrunk")])
def test_large_outputs_are_exact_whatever_their_size(payload, expected):
    out = columnarize(payload)
    assert type(out) is bytes
    assert out == expected
    assert columnarize(payload) == out


def _rows_over_32_mib():
    """A payload large enough that its copy is given back while the output
    is written, with what must outlive the rows it came from: a constant
    from row 0 (in escaped text), columns and nested names first met late,
    strings in escaped text and decoded ones. (payload, expected)"""
    n = 160_000
    pad = "x" * 120

    def row(i):
        late = f',"late_{i // 50_000}":"w{i}"' if i >= 100_000 else ""
        return (f'{{"c":"same \\"q\\"","i":{i},"s":"v{i}{pad}","e":"t\\t{i}","u":"\\u0041{i}",'
                f'"n":{{"k{i // 60_000}":[{i}]}}{late}}}')

    def cells(i):
        late = [f'"w{i}"' if i // 50_000 == k and i >= 100_000 else "null" for k in (2, 3)]
        return f'[{i},"v{i}{pad}","t\\t{i}","A{i}",{{"k{i // 60_000}":[{i}]}},{",".join(late)}]'

    payload = ("[" + ",".join(row(i) for i in range(n)) + "]").encode()
    expected = ('{"columns":["i","s","e","u","n","late_2","late_3"],"rows":[' + ",".join(cells(i) for i in range(n))
                + '],"constants":{"c":"same \\"q\\""}}').encode()
    return payload, expected


def test_a_payload_over_32_mib_given_back_while_writing_is_exact():
    payload, expected = _rows_over_32_mib()
    assert len(payload) > 33 << 20
    assert columnarize(payload) == expected


def _around_the_inline_room():
    """Payloads and outputs on either side of 2 KiB, where the call stops
    copying the payload and writing the output into room of its own and uses
    the heap: (name, payload, expected)."""
    def one_long_string(k):
        return (b'[{"i":0,"s":"' + b"x" * k + b'"},{"i":1,"s":"y"}]',
                b'{"columns":["i","s"],"rows":[[0,"' + b"x" * k + b'"],[1,"y"]],"constants":{}}')
    payload_overhead = len(one_long_string(0)[0])
    output_overhead = len(one_long_string(0)[1])
    for n in (2047, 2048, 2049):
        yield (f"payload-{n}", *one_long_string(n - payload_overhead))
        yield (f"output-{n}", *one_long_string(n - output_overhead))
    # Expected to fit, yet larger: each short float literal is written out in full.
    for rows in (150, 200, 250):
        yield (f"grown-{rows}", b"[" + b",".join([b'{"a":%de5}' % (i % 9 + 1) for i in range(rows)]) + b"]",
               b'{"columns":["a"],"rows":[' + b",".join(b"[%d00000.0]" % (i % 9 + 1) for i in range(rows))
               + b'],"constants":{}}')


AROUND_THE_INLINE_ROOM = list(_around_the_inline_room())


@pytest.mark.parametrize("name,payload,expected", AROUND_THE_INLINE_ROOM, ids=[c[0] for c in AROUND_THE_INLINE_ROOM])
def test_outputs_around_the_inline_room(name, payload, expected):
    assert columnarize(payload) == expected


def test_calls_of_every_size_in_turn_give_the_same_bytes():
    # Nothing of one call is seen by the next, whatever their sizes and order.
    payloads = [payload for _, payload, _ in AROUND_THE_INLINE_ROOM]
    payloads += [json.dumps(_rows(n)).encode() for n in (1, 40, 3000)]
    first = [columnarize(payload) for payload in payloads]
    for order in (range(len(payloads) - 1, -1, -1), [*range(1, len(payloads), 2), *range(0, len(payloads), 2)]):
        for i in order:
            assert columnarize(payloads[i]) == first[i], i


def test_small_calls_fit_a_thread_with_a_small_stack():
    # A small call keeps its payload copy, tree and output on the calling
    # thread's stack; a thread made with a small stack must still run it.
    code = """if True:
        import json, threading
        from tamsel_codec import columnarize
        try:
            threading.stack_size(64 * 1024)
        except ValueError:  # aarch64's glibc makes no thread stack under 128 KiB
            threading.stack_size(128 * 1024)
        payloads = [b'[{"id":1,"ok":true},{"id":22}]',
                    json.dumps([{"id": i, "name": "n%d" % i, "tags": [i, {"k": None}]} for i in range(60)]).encode()]
        out = []
        t = threading.Thread(target=lambda: out.extend(columnarize(p) for p in payloads))
        t.start()
        t.join()
        assert out == [columnarize(p) for p in payloads], out
        print("ok")
    """
    child = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert child.returncode == 0, child.stderr[-2000:]
    assert child.stdout.strip() == "ok"
