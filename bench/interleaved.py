"""Calls timed between other work, as a service makes them.

Back-to-back samples (timing.py) follow a call of the same contender, so
the memory a call needs is what the previous call just gave back. Here each
timed call follows unrelated Python work that allocates, touches and frees
about as much memory as the payload (one large bytes object, the same bytes
again in 1 KB pieces, a json round trip of a small unrelated document), and
the call gets no warm-up of its own: it meets memory as other code left it.
"""

import json
import resource
import statistics
import time

_PIECE = 1024
_OTHER_DOCUMENT = {"user": {"id": 7, "name": "other", "roles": ["a", "b", "c"]},
                   "items": [{"sku": f"k{i}", "qty": i, "price": i * 1.25} for i in range(64)]}


def other_work(size):
    """Allocates and frees about 2 * size bytes from Python, touching all of it."""
    blob = b"\x5a" * size
    pieces = [blob[i:i + _PIECE] for i in range(0, size, _PIECE)]
    json.loads(json.dumps(_OTHER_DOCUMENT))
    del pieces, blob


# A median of one call per round over five rounds swung by a factor of two
# between runs of the same build at 100 MB on a shared machine; three calls
# a round make fifteen samples for a few seconds more.
MIN_CALLS_PER_ROUND = 3


def samples_per_round(seconds_per_call, min_seconds):
    """Timed calls per round so that a round spends about min_seconds in calls, and at least
    MIN_CALLS_PER_ROUND."""
    return max(MIN_CALLS_PER_ROUND, round(min_seconds / max(seconds_per_call, 1e-9)))


def _minor_faults():
    return resource.getrusage(resource.RUSAGE_SELF).ru_minflt


def _system_seconds():
    return resource.getrusage(resource.RUSAGE_THREAD).ru_stime


class FreshMemory:
    """Resident memory a call adds at its peak: the memory it touches that was not in
    memory before, the cost a call pays in page faults and the kernel's zeroing. Linux
    resets the process's peak resident size on writing 5 to /proc/self/clear_refs; where
    that cannot be done, the minor faults times the page size stand in (an undercount
    where pages are huge)."""

    def __init__(self):
        try:
            self._clear = open("/proc/self/clear_refs", "w")
            self._status = open("/proc/self/status", "rb")
            self._reset()
        except OSError:
            self._clear = None

    def _kib(self, field):
        self._status.seek(0)
        for line in self._status.read().splitlines():
            if line.startswith(field):
                return int(line.split()[1])
        raise OSError(f"no {field!r} in /proc/self/status")

    def _reset(self):
        self._clear.write("5")
        self._clear.flush()

    def start(self):
        """Resident bytes now, the peak set to them."""
        if self._clear is None:
            return 0
        self._reset()
        return self._kib(b"VmRSS:") * 1024

    def added(self, rss_before, faults):
        if self._clear is None:
            return faults * resource.getpagesize()
        return max(0, self._kib(b"VmHWM:") * 1024 - rss_before)


def interleaved_seconds(fn, payloads, rounds, calls):
    """{key: {"seconds": median wall seconds of one call of fn(payload),
    "cpu_seconds": median CPU seconds of the calling thread, "system_seconds":
    median system time of the calling thread, "faults": minor page faults per
    call, "fresh_bytes": median resident memory the call added at its peak
    (FreshMemory)}}, each call right after other_work of the payload's size.

    CPU time leaves out the time the thread waited for a core: on a machine
    shared with other work a call of 50 ms is almost always preempted and one
    of 0.2 ms seldom is, which wall time alone would count against the larger
    sizes. Page faults and the kernel's zeroing of fresh pages are in both.

    payloads: {key: bytes}; calls: {key: timed calls per round}. Within a round
    the keys take turns in an order that rotates from round to round."""
    keys = list(payloads)
    wall = {key: [] for key in keys}
    cpu = {key: [] for key in keys}
    system = {key: [] for key in keys}
    fresh = {key: [] for key in keys}
    faults = dict.fromkeys(keys, 0)
    memory = FreshMemory()
    for r in range(rounds):
        shift = r % len(keys)
        for key in keys[shift:] + keys[:shift]:
            payload = payloads[key]
            for _ in range(calls[key]):
                other_work(len(payload))
                rss_before = memory.start()
                faults_before = _minor_faults()
                system_start = _system_seconds()
                cpu_start = time.thread_time()
                start = time.perf_counter()
                fn(payload)
                wall[key].append(time.perf_counter() - start)
                cpu[key].append(time.thread_time() - cpu_start)
                system[key].append(_system_seconds() - system_start)
                call_faults = _minor_faults() - faults_before
                faults[key] += call_faults
                fresh[key].append(memory.added(rss_before, call_faults))
    return {key: {"seconds": statistics.median(wall[key]), "cpu_seconds": statistics.median(cpu[key]),
                  "system_seconds": statistics.median(system[key]), "faults": faults[key] / len(wall[key]),
                  "fresh_bytes": statistics.median(fresh[key])} for key in keys}
