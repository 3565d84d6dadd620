"""Throughput of columnarize in one thread, two and eight threads of one
process, two processes each calling the module in one thread, and two
processes running the native transform (columnarize_json through the
yardstick library, without the module), all on the same payload. Every
set-up makes the same number of calls in a batch: eight threads make a
quarter of the two threads' calls each.

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


def threads(payload, calls_each, count):
    """Bytes/s of `count` threads making `calls_each` calls each, started together."""
    barrier = threading.Barrier(count + 1)

    def work():
        barrier.wait()
        _batch(payload, calls_each)

    workers = [threading.Thread(target=work) for _ in range(count)]
    for w in workers:
        w.start()
    barrier.wait()
    start = time.monotonic()
    for w in workers:
        w.join()
    return count * len(payload) * calls_each / (time.monotonic() - start)


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
    """Medians in bytes/s of the five set-ups, interleaved over `rounds` rounds
    in an order that rotates from round to round."""
    payload = Path(path).read_bytes()
    columnarize(payload)
    start = time.monotonic()
    columnarize(payload)
    # A multiple of 4 calls per worker of a pair, so eight threads share it evenly.
    calls = 4 * max(1, round(seconds_per_batch / 4 / max(time.monotonic() - start, 1e-6)))
    pairs = {"two_processes": ProcessPair("module", path, calls),
             "two_native_processes": ProcessPair("native", path, calls)}
    setups = {"one_thread": lambda: one_thread(payload, calls),
              "two_threads": lambda: threads(payload, calls, 2),
              "eight_threads": lambda: threads(payload, calls // 4, 8)}
    setups.update({name: pair.run for name, pair in pairs.items()})
    names = list(setups)
    samples = {name: [] for name in names}
    try:
        for r in range(rounds):
            shift = r % len(names)
            for name in names[shift:] + names[:shift]:
                samples[name].append(setups[name]())
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
