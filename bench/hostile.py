"""Time and peak memory of hostile payloads, each in a fresh process, as
the README's table shows them.

    python3.14t bench/hostile.py [WORD]     # only the payloads named with WORD

Peak: the child builds the payload, resets the kernel's peak-RSS mark
(/proc/self/clear_refs), makes one call and reports the peak resident size
reached above the size just before the call, result included.
"""
import subprocess
import sys


def _rows_by_columns(rows):
    # Each row a key of its own: the output is rows x columns.
    return f"b'[' + b','.join(b'{{\"k%d\":%d}}' % (i, i) for i in range({rows})) + b']'"


# name: (expression making the payload, bytes of address space left, or None)
PAYLOADS = {
    "100,000 distinct keys in one row":
        ("b'[{' + b','.join(b'\"k%d\":%d' % (i, i) for i in range(100_000)) + b'}]'", None),
    "1 MB of [[[[...": ("b'[' * (1 << 20)", None),
    "4,000 rows nested to the depth limit":
        ("b'[' + b','.join(b'{\"a\":' + b'[' * 125 + b'%d' % i + b']' * 125 + b'}' for i in range(4000)) + b']'",
         None),
    "one 100 MB string": ("b'[{\"s\":\"' + b'x' * (100 << 20) + b'\"}]'", None),
    "an integer of a million digits": ("b'[{\"n\":' + b'7' * 1_000_000 + b'}]'", None),
    "a fraction of a million digits": ("b'[{\"n\":1.' + b'0' * 999_998 + b'}]'", None),
    "1 MB of [{},{},...]": ("b'[' + b','.join([b'{}'] * ((1 << 20) // 3)) + b']'", None),
    "rows x columns, 10,000 rows": (_rows_by_columns(10_000), None),
    "rows x columns, 20,000 rows": (_rows_by_columns(20_000), None),
    "rows x columns, 30,000 rows": (_rows_by_columns(30_000), None),
    "rows x columns, 30,000 rows, 1 GiB of address space left": (_rows_by_columns(30_000), 1 << 30),
}

CHILD = """
import resource, time, tamsel_codec

def status(key):
    with open("/proc/self/status") as lines:
        return next(int(line.split()[1]) * 1024 for line in lines if line.startswith(key + ":"))

payload = {expression}
if {room} is not None:
    cap = status("VmSize") + {room}
    resource.setrlimit(resource.RLIMIT_AS, (cap, cap))
with open("/proc/self/clear_refs", "w") as clear:
    clear.write("5")
before = status("VmRSS")
started = time.perf_counter()
try:
    what = "output of %d bytes" % len(tamsel_codec.columnarize(payload))
except Exception as error:
    what = type(error).__name__ + ": " + str(error)
elapsed = time.perf_counter() - started
print(len(payload), elapsed, status("VmHWM") - before, what)
"""


def main():
    print("| payload | size | time | peak | result |\n|---|---|---|---|---|")
    for name, (expression, room) in PAYLOADS.items():
        if len(sys.argv) > 1 and sys.argv[1] not in name:
            continue
        child = subprocess.run([sys.executable, "-c", CHILD.format(expression=expression, room=room)],
                               capture_output=True, text=True)
        if child.returncode != 0:
            print(f"| {name} | crashed ({child.returncode}) | | | {child.stderr[-200:]!r} |")
            continue
        size, elapsed, peak, what = child.stdout.split(" ", 3)
        print(f"| {name} | {int(size) / 1e6:.2f} MB | {float(elapsed) * 1000:.0f} ms "
              f"| {int(peak) / 2**20:.0f} MiB | {what.strip()} |", flush=True)


if __name__ == "__main__":
    main()
