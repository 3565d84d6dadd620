"""Stress and soak runs of the free-threaded module: many threads, many calls,
every result checked against a single-threaded run of the same call, every
call counted, resident memory watched.

    python3.14t tests/stress/stress.py            # stress: 200 000 calls, 8 threads
    python3.14t tests/stress/stress.py --soak     # soak: 1 000 000 mixed calls, 8 threads
    python3.14t tests/stress/stress.py --quick    # what CI runs: the harness checks
                                                  # itself, then short stress and soak runs

The stress mix repeats a few realistic documents. The soak mix adds random
bytes, broken documents and hostile ones (deep nesting, huge strings, many
keys). A run fails, with a message that says why, when a result differs from
the single-threaded one, when any call raises something outside Exception,
when a worker dies or stalls (every barrier and join has a timeout), when
fewer calls completed than were scheduled, or when resident memory at the end
lies more than the bound above what it was after warm-up, or the samples of
the last quarter of the run lie that much above those of the first.

The module keeps large blocks between calls, up to a bound, and gives them
back once its pool goes unused for a number of calls. Resident memory after
warm-up and at the end is read with that pool emptied, so the two compare
what calls leave behind, not how full the pool happened to be. The samples
that are compared are those taken while every worker was still running,
after the pool has had a tenth of the run to fill again.
"""
import argparse
import json
import random
import sys
import threading
import time
import traceback

import tamsel_codec

MiB = 2**20


class RunFailed(Exception):
    pass


def resident_bytes():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmRSS")


def outcome(payload):
    """The call's result, or its exception as (type name, text). Anything
    outside Exception is not caught here: it ends the worker, and the run."""
    try:
        return ("ok", tamsel_codec.columnarize(payload))
    except Exception as error:
        return (type(error).__name__, str(error))


def empty_the_pool():
    """Enough small calls, with no other call running, for the module to give
    back the large blocks it keeps for reuse (after 256 calls that use none)."""
    for _ in range(300):
        tamsel_codec.columnarize(b"[]")


def record_rows(rng, n):
    rows = []
    for i in range(n):
        row = {"id": i, "name": f"row {i}", "const": "same", "price": rng.choice([1.5, 2.25, None]),
               "tags": ["x", "y"][: i % 3], "meta": {"k": i % 5}}
        if i % 4 == 0:
            row["sparse"] = "\u00e9\n\"" * (i % 7)
        rows.append(row)
    return json.dumps(rows, ensure_ascii=False).encode()


def stress_mix(rng):
    """(payload, weight) pairs: mostly small payloads, now and then a large one."""
    small = [b"[]", b"[{}]", b'[{"a":1},{"a":1.0}]', b"", b"{}", b"[1]", b"[" * 200,
             b'[{"a":"\xff"}]', b'[{"a":1},{"b":2}', b'["\\ud800"]']
    mix = [(p, 20) for p in small]
    documents = [record_rows(rng, n) for n in (2, 20, 200, 5000, 40000)]
    mix += list(zip(documents, [20, 20, 10, 2, 1]))
    mix.append((documents[-1][:-5], 1))  # a truncated large document
    return mix


JSON_BYTES = b'[]{}",:0123456789.eE-+ \t\n\\u/tnfalsrebx\x00\x1f\x7f\xc3\xa9\xff'


def soak_mix(rng):
    """Valid, invalid, tiny, large, random and hostile payloads."""
    mix = [(p, w * 4) for p, w in stress_mix(rng)]
    # Random bytes, and random strings of JSON's own bytes.
    for _ in range(60):
        mix.append((rng.randbytes(rng.randrange(0, 200)), 2))
        mix.append((bytes(rng.choices(JSON_BYTES, k=rng.randrange(1, 300))), 2))
    # Valid documents broken by one changed, dropped or doubled byte.
    base = [record_rows(rng, n) for n in (3, 30)] + [b'[{"a":[1,{"b":"\\u00e9\\n"}],"c":-0.5e-7}]']
    for _ in range(80):
        doc = bytearray(rng.choice(base))
        at = rng.randrange(len(doc))
        change = rng.randrange(3)
        if change == 0:
            doc[at] = rng.choice(JSON_BYTES)
        elif change == 1:
            del doc[at]
        else:
            doc.insert(at, doc[at])
        mix.append((bytes(doc), 2))
    # Tiny rows with numbers and strings in all their forms.
    for text in ('[{"a":1},{"a":1.0},{"a":-0}]', '[{"a":1e400}]', '[{"a":3e23},{"a":2.9999999999999997e23}]',
                 '[{"a":"\\f"},{"a":"\\u000c"}]', '[{"a":"\\ud83d\\ude00"},{"a":"\xf0\x9f\x98\x80"}]',
                 '[{"a":18446744073709551616},{"a":-9223372036854775809}]', '[{"a":null},{"b":null}]'):
        mix.append((text.encode(), 20))
    # Hostile documents.
    nest = 126  # row objects nested to the deepest level allowed, and one past it
    deep_ok = b'[{"a":' + b'{"a":' * (nest - 1) + b"1" + b"}" * nest + b"]"
    deep_bad = b'[{"a":' + b'{"a":' * nest + b"1" + b"}" * (nest + 1) + b"]"
    hostile = [
        b"[" * 100_000,
        b"[" * 127 + b"]" * 127,
        deep_ok,
        deep_bad,
        json.dumps([{"s": "x\u00e9\n" * 1_000_000, "n": i} for i in range(2)], ensure_ascii=False).encode(),
        b'[{"s":"' + b"y" * 3_000_000,  # a huge string never closed
        json.dumps([{f"key{i}": i for i in range(100_000)}, {"key5": 5}]).encode(),
        json.dumps([{f"k{i}": i for i in range(20_000)}] * 3).encode(),
        json.dumps([{f"only{i}": i} for i in range(400)]).encode(),
    ]
    mix += [(p, 1) for p in hostile]
    return mix


def run(mix, calls, threads, rss_bound_mib, timeout, seed, sabotage=None, quiet=False):
    """Runs `calls` calls of the mix on `threads` threads; raises RunFailed.

    `sabotage`, for the harness's own check, is (kind, call): worker 0 raises
    SystemExit ("die") or waits forever ("hang") at that call."""
    rng = random.Random(seed)
    payloads = [p for p, _ in mix]
    weights = [w for _, w in mix]
    expected = [outcome(p) for p in payloads]  # the single-threaded run
    per_thread = calls // threads
    if per_thread < 1:
        raise RunFailed(f"{calls} calls cannot be shared among {threads} threads")
    scheduled = per_thread * threads
    schedule = [rng.choices(range(len(payloads)), weights, k=per_thread) for _ in range(threads)]
    warm_at = per_thread // 10

    mismatches = []
    deaths = []
    done = [0] * threads
    baseline = []

    def take_baseline():  # run by the last party to arrive, while the others wait
        empty_the_pool()
        baseline.append(resident_bytes())

    warm = threading.Barrier(threads + 1, action=take_baseline)
    release = threading.Event()  # lets a hung saboteur go once the check is over

    def worker(t):
        passed_warm_up = False
        try:
            for n, i in enumerate(schedule[t]):
                if n == warm_at:
                    warm.wait(timeout)
                    passed_warm_up = True
                if sabotage and t == 0 and n == sabotage[1]:
                    if sabotage[0] == "die":
                        raise SystemExit("sabotage: worker 0 exits")
                    release.wait()
                got = outcome(payloads[i])
                if got != expected[i]:
                    mismatches.append((i, got[0], str(got[1])[:200], str(expected[i][1])[:200]))
                done[t] += 1
        except BaseException as error:  # noqa: B036 - a worker must never die silently
            deaths.append((t, done[t], error, "".join(traceback.format_exception(error))))
            # Breaking the barrier frees those still waiting at it. Once this worker
            # is through, every party has arrived, but the main thread may not yet
            # have woken: breaking it then would report a death after warm-up as
            # one before it.
            if not passed_warm_up:
                warm.abort()

    workers = [threading.Thread(target=worker, args=(t,), daemon=True, name=f"stress-{t}") for t in range(threads)]
    started = time.monotonic()
    for thread in workers:
        thread.start()

    def causes():
        # A worker left waiting at a barrier that another one broke is not a cause.
        return [d for d in deaths if not isinstance(d[2], threading.BrokenBarrierError)]

    def first_death():
        t, at, _, text = (causes() or deaths)[0]
        return f"worker {t} died after {at} calls:\n{text}"

    try:
        try:
            warm.wait(timeout)
        except threading.BrokenBarrierError:
            for thread in workers:
                thread.join(timeout)
            if causes():
                raise RunFailed("a worker died before warm-up; " + first_death()) from None
            raise RunFailed(f"warm-up barrier not reached by every worker within {timeout} s") from None
        baseline = baseline[0]
        warmed = time.monotonic()
        samples = []  # while every worker runs
        peak = baseline
        deadline = warmed + timeout
        for thread in workers:
            while thread.is_alive():
                rss = resident_bytes()
                peak = max(peak, rss)
                if all(w.is_alive() for w in workers):
                    samples.append(rss)
                thread.join(0.05)
                if time.monotonic() > deadline and thread.is_alive():
                    raise RunFailed(f"{thread.name} still running {timeout} s after warm-up, at call "
                                    f"{done[workers.index(thread)]} of {per_thread}")
        elapsed = time.monotonic() - started
        empty_the_pool()
        final = resident_bytes()
        samples = samples or [final]
    finally:
        release.set()

    completed = sum(done)
    # The first tenth is left out: the pool, emptied for the baseline, fills again then.
    # Each quarter is read at its tenth percentile: the pool swings resident memory by up
    # to its bound as it fills and empties, and what calls leave behind raises the floor.
    settled = samples[len(samples) // 10:]
    quarter = max(1, len(settled) // 4)
    early, late = sorted(settled[:quarter])[quarter // 10], sorted(settled[-quarter:])[quarter // 10]
    if not quiet:
        print(f"{completed} calls on {threads} threads in {elapsed:.1f} s; resident after warm-up "
              f"{baseline / MiB:.1f} MiB, peak {max(peak, final) / MiB:.1f} MiB, tenth percentile of the first "
              f"quarter {early / MiB:.1f} MiB and of the last {late / MiB:.1f} MiB, at the end "
              f"{final / MiB:.1f} MiB ({(final - baseline) / MiB:+.1f} MiB)")
    if deaths:
        raise RunFailed(first_death())
    if completed != scheduled:
        raise RunFailed(f"only {completed} of {scheduled} calls completed")
    if mismatches:
        raise RunFailed(f"{len(mismatches)} results differ from the single-threaded run, first: {mismatches[0]}")
    # Large results come and go; what must not happen is steady growth.
    if final - baseline > rss_bound_mib * MiB:
        raise RunFailed(f"resident memory grew by {(final - baseline) / MiB:.1f} MiB after warm-up, "
                        f"more than the bound of {rss_bound_mib} MiB")
    if late - early > rss_bound_mib * MiB:
        raise RunFailed(f"resident memory kept growing: the tenth percentile of the last quarter of the samples lies "
                        f"{(late - early) / MiB:.1f} MiB above that of the first, more than the bound of "
                        f"{rss_bound_mib} MiB")


def check_the_harness():
    """Each way a run can go wrong must fail it, with its own message."""
    mix = [(b'[{"a":1},{"a":2}]', 1), (b"[1", 1)]
    cases = [
        (("die", 0), "a worker died before warm-up; worker 0 died after 0 calls"),
        (("die", 150), "worker 0 died after 150 calls"),
        (("die", 21), "worker 0 died after 21 calls"),  # while the main thread may still be waking
        (("hang", 0), "warm-up barrier not reached by every worker within 2 s"),
        (("hang", 150), "stress-0 still running 2 s after warm-up, at call 150 of 200"),
    ]
    for sabotage, message in cases:
        try:
            run(mix, 800, 4, 64, 2, seed=1, sabotage=sabotage, quiet=True)
        except RunFailed as failed:
            if not str(failed).startswith(message):
                raise RunFailed(f"sabotage {sabotage} failed the run otherwise: {failed}") from None
        else:
            raise RunFailed(f"sabotage {sabotage} did not fail the run")
    print("harness: each sabotaged run failed as it should")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--soak", action="store_true", help="the soak mix, 1 000 000 calls by default")
    parser.add_argument("--quick", action="store_true", help="harness check, short stress and soak runs")
    parser.add_argument("--calls", type=int, help="calls in all (default 200 000, or 1 000 000 with --soak)")
    parser.add_argument("--threads", type=int, default=8)
    parser.add_argument("--rss-bound-mib", type=int, default=64,
                        help="largest growth of resident memory allowed after warm-up")
    parser.add_argument("--timeout", type=float, default=1800,
                        help="seconds allowed for the warm-up, and again for the rest of the run")
    args = parser.parse_args()

    if args.quick:
        # Long enough (about 20 s) that the quarters being compared each span
        # several fillings and emptyings of the module's pool.
        runs = [("stress", stress_mix, 100_000), ("soak", soak_mix, 150_000)]
    elif args.soak:
        runs = [("soak", soak_mix, args.calls or 1_000_000)]
    else:
        runs = [("stress", stress_mix, args.calls or 200_000)]
    try:
        if args.quick:
            check_the_harness()
        for name, make_mix, calls in runs:
            print(f"{name}: ", end="", flush=True)
            run(make_mix(random.Random(7)), calls, args.threads, args.rss_bound_mib, args.timeout, seed=7)
    except RunFailed as failed:
        print(f"\nFAILED: {failed}")
        return 1
    print("stress: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
