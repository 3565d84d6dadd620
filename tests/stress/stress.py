"""Stress run of the free-threaded module: many threads, many calls, every
result checked against a single-threaded run, resident memory watched.

    python3.14t tests/stress/stress.py            # 200 000 calls, 8 threads
    python3.14t tests/stress/stress.py --quick    # 20 000 calls (what CI runs)
"""
import argparse
import json
import random
import sys
import threading

import tamsel_codec


def resident_bytes():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmRSS")


def make_payloads(rng):
    payloads = [b"[]", b"[{}]", b'[{"a":1},{"a":1.0}]', b"", b"{}", b"[1]", b"[" * 200,
                b'[{"a":"\xff"}]', b'[{"a":1},{"b":2}', b'["\\ud800"]']
    for n in (2, 20, 200, 5000, 40000):
        rows = []
        for i in range(n):
            row = {"id": i, "name": f"row {i}", "const": "same", "price": rng.choice([1.5, 2.25, None]),
                   "tags": ["x", "y"][: i % 3], "meta": {"k": i % 5}}
            if i % 4 == 0:
                row["sparse"] = "\u00e9\n\"" * (i % 7)
            rows.append(row)
        payloads.append(json.dumps(rows, ensure_ascii=False).encode())
    payloads.append(payloads[-2][:-5])  # a truncated large document
    return payloads


def outcome(payload):
    try:
        return ("ok", tamsel_codec.columnarize(payload))
    except Exception as error:  # every failure must be an ordinary exception
        return (type(error).__name__, str(error))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--calls", type=int, default=200_000)
    parser.add_argument("--threads", type=int, default=8)
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    if args.quick:
        args.calls = 20_000

    rng = random.Random(7)
    payloads = make_payloads(rng)
    expected = [outcome(p) for p in payloads]
    # Mostly small payloads, now and then a large one.
    weights = [20] * 10 + [20, 20, 10, 2, 1, 1]
    per_thread = args.calls // args.threads
    schedule = [rng.choices(range(len(payloads)), weights, k=per_thread) for _ in range(args.threads)]

    mismatches = []
    done = [0] * args.threads
    warm = threading.Barrier(args.threads + 1)
    samples = []

    def worker(t):
        for n, i in enumerate(schedule[t]):
            if n == per_thread // 10:
                warm.wait()
            got = outcome(payloads[i])
            if got != expected[i]:
                mismatches.append((i, got[0], str(got[1])[:200]))
            done[t] += 1

    threads = [threading.Thread(target=worker, args=(t,)) for t in range(args.threads)]
    for thread in threads:
        thread.start()
    warm.wait()
    baseline = resident_bytes()
    while any(thread.is_alive() for thread in threads):
        samples.append(resident_bytes())
        threads[0].join(0.2)
    for thread in threads:
        thread.join()
    final = resident_bytes()

    growth = max(samples + [final]) - baseline
    print(f"{sum(done)} calls on {args.threads} threads; resident after warm-up {baseline / 2**20:.1f} MiB, "
          f"largest growth {growth / 2**20:.1f} MiB, at the end {(final - baseline) / 2**20:+.1f} MiB")
    if mismatches:
        print(f"{len(mismatches)} results differ from the single-threaded run, first: {mismatches[0]}")
        return 1
    # Large results come and go; what must not happen is steady growth.
    if final - baseline > 64 * 2**20:
        print("resident memory kept growing")
        return 1
    print("stress: 1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
