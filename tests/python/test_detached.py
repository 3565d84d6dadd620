import json
import threading
import time

from tamsel_codec import columnarize


def test_other_threads_run_python_code_during_a_long_call():
    # A thread that counts in pure Python can only move on while the call
    # runs if the call has let go of the interpreter (released the GIL, or
    # detached on a free-threaded build).
    payload = json.dumps([{"id": i, "name": f"n{i}", "score": i % 97} for i in range(300_000)]).encode()
    counting, done = threading.Event(), threading.Event()
    ticks = []
    window = []

    def count():
        while not done.is_set():
            ticks.append(time.perf_counter())
            counting.set()
            for _ in range(200):
                pass

    counter = threading.Thread(target=count)
    counter.start()
    try:
        # The counter is running before the call begins, so it need not be
        # woken, and given a core, while the call runs.
        counting.wait()
        started = time.perf_counter()
        result = columnarize(payload)
        window.extend((started, time.perf_counter()))
    finally:
        done.set()
        counter.join()

    assert len(json.loads(result)["rows"]) == 300_000
    start, end = window
    # Leave out the edges, where the caller itself was still running Python.
    quarter = (end - start) / 4
    inside = [t for t in ticks if start + quarter < t < end - quarter]
    assert end - start > 0.02, "the call was too short to tell"
    assert len(inside) >= 10, (len(inside), end - start)
