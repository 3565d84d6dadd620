"""Interleaved repetitions and medians.

Every contender is timed on the same payload in rounds: one sample of each
per round, in an order that rotates from round to round, so that a burst of
load from elsewhere on the machine hits all of them alike. A sample is a
batch of calls long enough to read the clock reliably; its time per call
goes into the median.
"""

import resource
import statistics
import time


def python_timer(fn):
    """A function (payload, calls) -> seconds spent in `calls` calls of fn(payload)."""

    def run(payload, calls):
        start = time.perf_counter()
        for _ in range(calls):
            fn(payload)
        return time.perf_counter() - start

    return run


def batch_size(timer, payload, min_seconds):
    """Calls per sample so that one sample lasts at least min_seconds (one warm-up call included)."""
    calls = 1
    while True:
        seconds = timer(payload, calls)
        if seconds >= min_seconds or calls >= 1 << 20:
            return calls
        calls = max(calls * 2, int(calls * min_seconds / max(seconds, 1e-9) * 1.2))


def interleaved_medians(timers, payload, rounds, min_seconds):
    """{name: median seconds per call} over `rounds` interleaved rounds."""
    names = list(timers)
    calls = {name: batch_size(timers[name], payload, min_seconds) for name in names}
    samples = {name: [] for name in names}
    for r in range(rounds):
        shift = r % len(names)
        for name in names[shift:] + names[:shift]:
            samples[name].append(timers[name](payload, calls[name]) / calls[name])
    return {name: statistics.median(values) for name, values in samples.items()}


def minor_faults_per_call(timer, payload, calls=3):
    """Minor page faults of this process per call (fresh pages the kernel had to map)."""
    before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
    timer(payload, calls)
    return (resource.getrusage(resource.RUSAGE_SELF).ru_minflt - before) / calls
