"""Interleaved repetitions and medians.

Every contender is timed on the same payload in rounds: one sample of each
per round, in an order that rotates from round to round, so that a burst of
load from elsewhere on the machine hits all of them alike. A sample is a
batch of calls long enough to read the clock reliably, after one untimed
call; its time per call goes into the median.
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
    """{name: median seconds per call} over `rounds` interleaved rounds.

    Each sample follows one untimed call of the same contender, so that every
    contender is timed with memory as its own calls leave it, as in a batch of
    small calls, rather than as the previous contender left it. (On this
    machine the host takes back memory freed for a second or so, and touching
    it again costs far more than fresh memory usually does; a sample of one
    large call would otherwise mostly time that.)"""
    names = list(timers)
    calls = {name: batch_size(timers[name], payload, min_seconds) for name in names}
    samples = {name: [] for name in names}
    for r in range(rounds):
        shift = r % len(names)
        for name in names[shift:] + names[:shift]:
            timers[name](payload, 1)
            samples[name].append(timers[name](payload, calls[name]) / calls[name])
    return {name: statistics.median(values) for name, values in samples.items()}


def minor_faults_per_call(timer, payload, calls=3):
    """Minor page faults of this process per call (fresh pages the kernel had to map)."""
    before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
    timer(payload, calls)
    return (resource.getrusage(resource.RUSAGE_SELF).ru_minflt - before) / calls
