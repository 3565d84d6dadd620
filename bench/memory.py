"""Peak extra resident memory of one call, measured in a fresh process.

    python3.14t bench/memory.py {module,python} FILE   # prints a JSON line

The child reads the payload, resets the kernel's peak-RSS mark
(/proc/self/clear_refs), makes one call and reports the peak resident size
reached above the size just before the call, result included.
"""

import json
import subprocess
import sys
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
    before = _status_kib("VmRSS:")
    result = columnarize(payload)
    peak = _status_kib("VmHWM:")
    print(json.dumps({"payload_bytes": len(payload), "extra_bytes": (peak - before) * 1024,
                      "result_bytes": len(result)}))


if __name__ == "__main__":
    _child(sys.argv[1], sys.argv[2])
