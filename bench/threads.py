"""Throughput of columnarize in one thread, two threads of one process, two
processes each calling the module in one thread, and two processes running
the native transform (columnarize_json through the yardstick library,
without the module), all on the same payload.

    python3.14t bench/threads.py --child {module,native} FILE CALLS

A worker process loads the payload, makes a warm-up call, prints "ready",
then for each line on its standard input makes CALLS calls and prints the
start and end of that batch on the system-wide monotonic clock. The two
workers of a pair start each batch together; the pair's throughput is all
their bytes over the span from the first start to the last end.
"""

import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

from tamsel_codec import columnarize


def _batch(payload, calls):
    for _ in range(calls):
        columnarize(payload)


def one_thread(payload, calls):
    start = time.monotonic()
    _batch(payload, calls)
    return len(payload) * calls / (time.monotonic() - start)


def two_threads(payload, calls):
    barrier = threading.Barrier(3)

    def work():
        barrier.wait()
        _batch(payload, calls)

    workers = [threading.Thread(target=work) for _ in range(2)]
    for w in workers:
        w.start()
    barrier.wait()
    start = time.monotonic()
    for w in workers:
        w.join()
    return 2 * len(payload) * calls / (time.monotonic() - start)


class ProcessPair:
    """Two worker processes that run one batch each at the same moment."""

    def __init__(self, kind, path, calls):
        self.calls = calls
        self.size = Path(path).stat().st_size
        cmd = [sys.executable, str(Path(__file__).resolve()), "--child", kind, str(path), str(calls)]
        self.procs = [subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
                      for _ in range(2)]
        for p in self.procs:
            if p.stdout.readline().strip() != "ready":
                raise RuntimeError("worker process failed to start")

    def run(self):
        for p in self.procs:
            p.stdin.write("go\n")
            p.stdin.flush()
        spans = [tuple(map(float, p.stdout.readline().split())) for p in self.procs]
        wall = max(end for _, end in spans) - min(start for start, _ in spans)
        return 2 * self.size * self.calls / wall

    def close(self):
        for p in self.procs:
            p.stdin.close()
            p.wait()


def measure(path, rounds, seconds_per_batch):
    """Medians in bytes/s of the four set-ups, interleaved over `rounds` rounds."""
    payload = Path(path).read_bytes()
    columnarize(payload)
    start = time.monotonic()
    columnarize(payload)
    calls = max(1, round(seconds_per_batch / max(time.monotonic() - start, 1e-6)))
    pairs = {"two_processes": ProcessPair("module", path, calls),
             "two_native_processes": ProcessPair("native", path, calls)}
    samples = {"one_thread": [], "two_threads": [], "two_processes": [], "two_native_processes": []}
    try:
        for _ in range(rounds):
            samples["one_thread"].append(one_thread(payload, calls))
            samples["two_threads"].append(two_threads(payload, calls))
            for name, pair in pairs.items():
                samples[name].append(pair.run())
    finally:
        for pair in pairs.values():
            pair.close()
    result = {name: statistics.median(values) for name, values in samples.items()}
    result["calls_per_batch"] = calls
    return result


def _child(kind, path, calls):
    payload = Path(path).read_bytes()
    if kind == "module":
        run = _batch
    else:
        import native

        timer = native.Yardsticks().timer("native")

        def run(payload, calls):
            timer(payload, calls)

    run(payload, 1)
    print("ready", flush=True)
    for _ in sys.stdin:
        start = time.monotonic()
        run(payload, calls)
        print(start, time.monotonic(), flush=True)


if __name__ == "__main__":
    if len(sys.argv) != 5 or sys.argv[1] != "--child" or sys.argv[2] not in ("module", "native"):
        sys.exit(__doc__)
    _child(sys.argv[2], sys.argv[3], int(sys.argv[4]))
