"""Benchmark driver: python3.14t bench/run.py [--quick]

Times tamsel_codec.columnarize against its yardsticks on the four corpus
shapes, checks the outputs agree, measures peak memory and thread scaling,
and writes build/bench-results/results.json, results.txt and throughput.png.
See bench/README.md.
"""

import argparse
import os
import platform
import statistics
import subprocess
import sys
import time
from pathlib import Path

import check
import corpus
import memory
import native
import python_baseline
import report
import targets
import threads
import timing

KB, MB = 1_000, 1_000_000
OUT_DIR = native.ROOT / "build" / "bench-results"
REF_SIZE = 10 * MB

SETTINGS = {
    # sizes, rounds, seconds per sample, seconds per thread-test batch
    "quick": ([1 * KB, 1 * MB, 10 * MB], 3, 0.02, 0.3),
    "full": ([1 * KB, 1 * MB, 10 * MB, 100 * MB], 5, 0.05, 1.0),
}


def log(*args):
    print(*args, file=sys.stderr, flush=True)


def measure_throughput(sizes, rounds, min_seconds, yardsticks, columnarize):
    timers = {"tamsel": timing.python_timer(columnarize), "python": timing.python_timer(python_baseline.columnarize)}
    timers.update({name: yardsticks.timer(name) for name in native.YARDSTICKS})
    out = []
    for size in sizes:
        for shape in sorted(corpus.SHAPES):
            payload = corpus.corpus_file(shape, size).read_bytes()
            log(f"throughput: {shape} {report.size_label(size)}")
            medians = timing.interleaved_medians(timers, payload, rounds, min_seconds)
            entry = {"shape": shape, "size": size, "bytes": len(payload),
                     "seconds_per_call": medians,
                     "mbps": {name: len(payload) / s / MB for name, s in medians.items()},
                     "minor_faults_per_call": {name: timing.minor_faults_per_call(timers[name], payload)
                                               for name in ("tamsel", "native")}}
            if size <= MB:
                entry["check"] = check.check_outputs(columnarize(payload), python_baseline.columnarize(payload),
                                                     yardsticks.rapidjson_output(payload))
            out.append(entry)
    return out


def measure_memory(size):
    path = corpus.corpus_file("api", size)
    log(f"memory: api {report.size_label(size)}")
    result = {"size": size}
    for which in ("module", "python"):
        m = memory.measure(which, path)
        result[which] = m["extra_bytes"] / m["payload_bytes"]
        result[which + "_extra_bytes"] = m["extra_bytes"]
    return result


def measure_idle(size, columnarize, rounds):
    """Seconds per call of the module on the api payload back to back, and
    after the process has been idle for two seconds (memory freed by the last
    call may have been taken back by the host by then)."""
    payload = corpus.corpus_file("api", size).read_bytes()
    log(f"idle: api {report.size_label(size)}")
    columnarize(payload)
    back_to_back, after_idle = [], []
    for _ in range(rounds):
        start = time.perf_counter()
        columnarize(payload)
        back_to_back.append(time.perf_counter() - start)
        time.sleep(2.0)
        start = time.perf_counter()
        columnarize(payload)
        after_idle.append(time.perf_counter() - start)
    return {"size": size, "back_to_back": statistics.median(back_to_back),
            "after_idle": statistics.median(after_idle)}


def measure_threads(rounds, seconds_per_batch):
    log(f"threads: api {report.size_label(REF_SIZE)}")
    path = corpus.corpus_file("api", REF_SIZE)
    result = threads.measure(path, rounds, seconds_per_batch)
    result["size"] = REF_SIZE
    return result


def warn_if_stale(module_file):
    """Warns when the installed module is older than the last commit touching src/."""
    out = subprocess.run(["git", "-C", native.ROOT, "log", "-1", "--format=%ct", "--", "src"],
                         capture_output=True, text=True).stdout.strip()
    if out and os.path.getmtime(module_file) < int(out):
        log("warning: the installed tamsel_codec predates the last change to src/; "
            "reinstall it with: python3.14t -m pip install .")


def metadata(mode, module_file):
    try:
        commit = subprocess.run(["git", "-C", native.ROOT, "rev-parse", "--short", "HEAD"],
                                capture_output=True, text=True).stdout.strip()
    except OSError:
        commit = ""
    built = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(os.path.getmtime(module_file)))
    return {"mode": mode, "commit": commit, "module": module_file, "module_built": built, "python": sys.version,
            "gil_enabled": sys._is_gil_enabled(), "machine": platform.machine(), "cpus": os.cpu_count(),
            "load_average_at_start": os.getloadavg(), "started": time.strftime("%Y-%m-%d %H:%M:%S")}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="sizes up to 10 MB, 3 rounds: about a minute")
    parser.add_argument("--rounds", type=int, help="interleaved rounds per measurement")
    parser.add_argument("--out", type=Path, default=OUT_DIR)
    args = parser.parse_args()
    mode = "quick" if args.quick else "full"
    sizes, rounds, min_seconds, batch_seconds = SETTINGS[mode]
    rounds = args.rounds or rounds

    native.build()
    yardsticks = native.Yardsticks()
    import tamsel_codec

    warn_if_stale(tamsel_codec.__file__)
    results = {"meta": metadata(mode, tamsel_codec.__file__)}
    results["throughput"] = measure_throughput(sizes, rounds, min_seconds, yardsticks, tamsel_codec.columnarize)
    results["memory"] = measure_memory(sizes[-1])
    results["threads"] = measure_threads(rounds, batch_seconds)
    results["idle"] = measure_idle(sizes[-1], tamsel_codec.columnarize, rounds)
    results["meta"]["load_average_at_end"] = os.getloadavg()
    results["targets"] = targets.evaluate(results["throughput"], results["memory"], results["threads"],
                                          REF_SIZE, sizes[-1], results["idle"])

    args.out.mkdir(parents=True, exist_ok=True)
    text = report.table(results)
    print(text)
    (args.out / "results.txt").write_text(text + "\n")
    report.write_json(results, args.out / "results.json")
    try:
        report.plot(results, args.out / "throughput.png", REF_SIZE)
    except ImportError:
        log("matplotlib is not installed for this interpreter: no plot (python3.14t -m pip install matplotlib)")
    log(f"results in {args.out}")


if __name__ == "__main__":
    main()
