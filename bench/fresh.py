"""Calls of one payload, each payload in a process of its own.

    python3.14t bench/fresh.py FILE ROUNDS SECONDS   # prints a JSON line

By the time the driver times a size, its process has made calls of every
size, and the C allocator has raised the thresholds below which it keeps
freed memory rather than giving it back. A service whose calls are all of
a few hundred KB has not, so there a call's buffers could lose their pages
between calls and fault them in again each time. Each payload is therefore
also measured in a process that has made no other call: input MB/s, the
median of ROUNDS batches of at least SECONDS each, and minor page faults
per call.
"""

import json
import resource
import statistics
import subprocess
import sys
import time
from pathlib import Path


def measure(path, rounds, seconds):
    """{bytes, mbps, minor_faults_per_call} of calls on the file at `path`, in a fresh process."""
    out = subprocess.run([sys.executable, str(Path(__file__).resolve()), str(path), str(rounds), str(seconds)],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def _child(path, rounds, seconds):
    from tamsel_codec import columnarize

    payload = Path(path).read_bytes()
    start = time.perf_counter()
    calls = 0
    while calls == 0 or time.perf_counter() - start < seconds / 4:
        columnarize(payload)
        calls += 1
    calls = max(1, int(calls * 4))  # a batch of about `seconds`
    mbps, faults = [], []
    for _ in range(rounds):
        before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
        start = time.perf_counter()
        for _ in range(calls):
            columnarize(payload)
        mbps.append(len(payload) * calls / (time.perf_counter() - start) / 1e6)
        faults.append((resource.getrusage(resource.RUSAGE_SELF).ru_minflt - before) / calls)
    print(json.dumps({"bytes": len(payload), "mbps": statistics.median(mbps),
                      "minor_faults_per_call": statistics.median(faults)}))


if __name__ == "__main__":
    _child(sys.argv[1], int(sys.argv[2]), float(sys.argv[3]))
