"""Two builds of the module timed against each other in one process.

    python bench/ab.py NEW.so OLD.so [PAYLOAD ...] [--rounds N]

A change of a few percent is below what separate runs on this machine can
tell apart: the same build's figure moves by more than that from one run to
the next. Here both builds are loaded side by side (each .so under its own
path) and time the same payloads in rounds, the build that goes first
alternating from round to round; each round gives one ratio, new time over
old, and the median of the rounds is reported with its quartiles.

Which build is loaded first still tilts the ratio (by up to 3% here for the
same code loaded twice), so the measurement runs twice, in a process of its
own for each load order, and both are reported beside their median.

PAYLOAD: SHAPE@SIZE (a corpus payload, such as metrics@100KB or api@10MB),
"small" (the 30-byte payload of the small-call target), or a file's path.
Without any: small, and every shape at 100 KB and 1 MB.
"""

import argparse
import importlib.util
import json
import statistics
import subprocess
import sys
import time
from pathlib import Path

import corpus
import timing

SMALL_PAYLOAD = b'[{"id":1,"ok":true},{"id":22}]'
UNITS = {"KB": 1_000, "MB": 1_000_000, "B": 1}
DEFAULT_PAYLOADS = ["small"] + [f"{shape}@{size}" for size in ("100KB", "1MB") for shape in sorted(corpus.SHAPES)]
SECONDS_PER_SAMPLE = 0.02


def payload_bytes(which):
    if which == "small":
        return SMALL_PAYLOAD
    shape, at, size = which.partition("@")
    if at and shape in corpus.SHAPES:
        unit = next(u for u in UNITS if size.upper().endswith(u))
        return corpus.corpus_file(shape, int(float(size[:-len(unit)]) * UNITS[unit])).read_bytes()
    return Path(which).read_bytes()


def load(path):
    found = importlib.util.spec_from_file_location("tamsel_codec", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def round_ratios(first, second, payloads, rounds):
    """{payload: [time of `first` / time of `second`, a ratio per round]}, both loaded in this process."""
    builds = {"first": load(first), "second": load(second)}
    out = {}
    for which in payloads:
        payload = payload_bytes(which)
        timers = {name: timing.python_timer(m.columnarize) for name, m in builds.items()}
        calls = max(timing.batch_size(t, payload, SECONDS_PER_SAMPLE) for t in timers.values())
        ratios = []
        for r in range(rounds):
            seconds = {}
            for name in (("first", "second") if r % 2 == 0 else ("second", "first")):
                timers[name](payload, 1)
                seconds[name] = timers[name](payload, calls)
            ratios.append(seconds["first"] / seconds["second"])
        out[which] = ratios
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("new")
    parser.add_argument("old")
    parser.add_argument("payloads", nargs="*", default=DEFAULT_PAYLOADS)
    parser.add_argument("--rounds", type=int, default=21)
    parser.add_argument("--one-order", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.one_order:
        json.dump(round_ratios(args.new, args.old, args.payloads, args.rounds), sys.stdout)
        return

    def run(first, second):
        command = [sys.executable, __file__, "--one-order", "--rounds", str(args.rounds), first, second, *args.payloads]
        return json.loads(subprocess.run(command, check=True, capture_output=True, text=True).stdout)

    start = time.perf_counter()
    new_first = run(args.new, args.old)
    old_first = {which: [1 / r for r in ratios] for which, ratios in run(args.old, args.new).items()}
    print(f"new/old time per call, median of {args.rounds} rounds [quartiles], by which build was loaded first")
    print(f"{'payload':<16} {'new first':>22} {'old first':>22} {'both':>7}")
    for which in args.payloads:
        cells = []
        for ratios in (new_first[which], old_first[which]):
            q = statistics.quantiles(ratios, n=4)
            cells.append(f"{statistics.median(ratios):.3f} [{q[0]:.3f}-{q[2]:.3f}]")
        both = statistics.median(new_first[which] + old_first[which])
        print(f"{which:<16} {cells[0]:>22} {cells[1]:>22} {both:>7.3f}")
    print(f"({time.perf_counter() - start:.0f} s)")


if __name__ == "__main__":
    main()
