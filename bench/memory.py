"""Memory of calls, each measured in a fresh process.

    python3.14t bench/memory.py {module,python} FILE          # prints a JSON line
    python3.14t bench/memory.py retained LARGE SMALL CALLS    # prints a JSON line

Peak: the child reads the payload, resets the kernel's peak-RSS mark
(/proc/self/clear_refs), makes one call and reports the peak resident size
reached above the size just before the call, result included. The resident
size counts pages freed lazily (MADV_FREE), which the system may take at
any time; a thread therefore also samples, every millisecond of the call,
the resident size less those pages (/proc/self/smaps_rollup), and the
highest sample above the same figure before the call is reported beside
the peak (a sample, so at most the true peak of that figure).

Retained: the child reads both payloads and makes one call on SMALL, notes
its resident size, makes one call on LARGE (result dropped) and then CALLS
calls on SMALL, and reports how far its resident size ended above the noted
one: memory that a large call leaves behind while small calls go on.
"""

import json
import subprocess
import sys
import threading
from pathlib import Path

HERE = Path(__file__).resolve().parent


def _status_kib(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field):
                return int(line.split()[1])
    raise RuntimeError(f"{field} missing from /proc/self/status")


def measure(which, path):
    """{payload_bytes, extra_bytes} for one call of `which` on the file at `path`."""
    out = subprocess.run([sys.executable, str(Path(__file__).resolve()), which, str(path)],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def measure_retained(large_path, small_path, calls):
    """{before_bytes, after_bytes, retained_bytes} of the retained-memory child."""
    out = subprocess.run([sys.executable, str(Path(__file__).resolve()), "retained", str(large_path),
                          str(small_path), str(calls)], check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def _retained_child(large_path, small_path, calls):
    from tamsel_codec import columnarize

    large = Path(large_path).read_bytes()
    small = Path(small_path).read_bytes()
    columnarize(small)
    before = _status_kib("VmRSS:")
    columnarize(large)
    for _ in range(calls):
        columnarize(small)
    after = _status_kib("VmRSS:")
    print(json.dumps({"before_bytes": before * 1024, "after_bytes": after * 1024,
                      "retained_bytes": (after - before) * 1024, "large_bytes": len(large)}))


def _kept_kib():
    """Resident KiB less lazily freed KiB, from /proc/self/smaps_rollup."""
    fields = {}
    with open("/proc/self/smaps_rollup") as rollup:
        for line in rollup:
            name, _, rest = line.partition(":")
            if name in ("Rss", "LazyFree"):
                fields[name] = int(rest.split()[0])
    return fields.get("Rss", 0) - fields.get("LazyFree", 0)


def _child(which, path):
    if which == "module":
        from tamsel_codec import columnarize
    else:
        sys.path.insert(0, str(HERE))
        from python_baseline import columnarize
    with open(path, "rb") as f:
        payload = f.read()
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # the peak mark restarts from the current resident size
    kept_before = _kept_kib()
    kept_peak = kept_before
    done = threading.Event()

    def sample():
        nonlocal kept_peak
        while not done.wait(0.001):
            kept_peak = max(kept_peak, _kept_kib())

    sampler = threading.Thread(target=sample)
    sampler.start()
    before = _status_kib("VmRSS:")
    result = columnarize(payload)
    peak = _status_kib("VmHWM:")
    done.set()
    sampler.join()
    kept_peak = max(kept_peak, _kept_kib())
    print(json.dumps({"payload_bytes": len(payload), "extra_bytes": (peak - before) * 1024,
                      "kept_extra_bytes": (kept_peak - kept_before) * 1024, "result_bytes": len(result)}))


if __name__ == "__main__":
    if sys.argv[1:2] == ["retained"] and len(sys.argv) == 5:
        _retained_child(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    elif len(sys.argv) == 3 and sys.argv[1] in ("module", "python"):
        _child(sys.argv[1], sys.argv[2])
    else:
        sys.exit(__doc__)
