"""Benchmark driver: python3.14t bench/run.py [--quick]

Times tamsel_codec.columnarize against its yardsticks on the four corpus
shapes, back to back and between other Python work, checks the outputs
agree, measures small calls, thread scaling, peak and retained memory,
evaluates the targets and writes build/bench-results/results.json,
results.txt and throughput.png. See bench/README.md.
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
import fresh
import interleaved
import memory
import native
import python_baseline
import report
import targets
import threads
import timing

try:
    import msgspec_baseline
except ImportError:
    sys.exit("the bench needs msgspec: python3.14t -m pip install msgspec")

KB, MB = 1_000, 1_000_000
OUT_DIR = native.ROOT / "build" / "bench-results"
REF_SIZE = targets.REF_SIZE
THREAD_SIZES = [1 * MB, 10 * MB]
SMALL_PAYLOAD = b'[{"id":1,"ok":true},{"id":22}]'  # 30 bytes
RETAINED_SMALL_SIZE, RETAINED_SMALL_CALLS = 10 * KB, 1000
# Payloads timed each in a process of its own (fresh.py): the sizes whose
# buffers lie around the C allocator's default thresholds.
FRESH_SIZES = [10 * KB, 30 * KB, 100 * KB, 300 * KB]
# The plain-Python codec takes seconds a call at 100 MB and no target needs it there.
PYTHON_MAX_SIZE = 10 * MB

SETTINGS = {
    # sizes, rounds, seconds per back-to-back sample, seconds of interleaved
    # calls per payload and round, seconds per thread-test batch
    "quick": ([1 * KB, 10 * KB, 100 * KB, 1 * MB, 10 * MB], 3, 0.02, 0.03, 0.3),
    "full": ([1 * KB, 10 * KB, 100 * KB, 1 * MB, 10 * MB, 100 * MB], 5, 0.05, 0.1, 1.0),
}


def log(*args):
    print(*args, file=sys.stderr, flush=True)


def measure_throughput(sizes, rounds, min_seconds, yardsticks, columnarize):
    timers = {"tamsel": timing.python_timer(columnarize), "python": timing.python_timer(python_baseline.columnarize),
              "msgspec": timing.python_timer(msgspec_baseline.columnarize)}
    timers.update({name: yardsticks.timer(name) for name in native.YARDSTICKS})
    out = []
    for size in sizes:
        for shape in sorted(corpus.SHAPES):
            payload = corpus.corpus_file(shape, size).read_bytes()
            log(f"throughput: {shape} {report.size_label(size)}")
            contenders = {name: timer for name, timer in timers.items()
                          if name != "python" or size <= PYTHON_MAX_SIZE}
            medians = timing.interleaved_medians(contenders, payload, rounds, min_seconds)
            entry = {"shape": shape, "size": size, "bytes": len(payload),
                     "seconds_per_call": medians,
                     "mbps": {name: len(payload) / s / MB for name, s in medians.items()},
                     "minor_faults_per_call": {name: timing.minor_faults_per_call(timers[name], payload)
                                               for name in ("tamsel", "native")}}
            if size <= MB:
                entry["check"] = check.check_outputs(columnarize(payload), {
                    "python": python_baseline.columnarize(payload),
                    "msgspec": msgspec_baseline.columnarize(payload),
                    "rapidjson": yardsticks.rapidjson_output(payload)})
            out.append(entry)
    return out


def measure_interleaved(sizes, rounds, min_seconds, columnarize, back_to_back):
    """The module's median seconds per call between other work, every shape at 100 KB and up,
    all payloads taking turns in each round."""
    sizes = [size for size in sizes if size >= 100 * KB]
    log(f"interleaved: {', '.join(report.size_label(size) for size in sizes)}")
    payloads = {(shape, size): corpus.corpus_file(shape, size).read_bytes()
                for size in sizes for shape in sorted(corpus.SHAPES)}
    per_call = {(t["shape"], t["size"]): t["seconds_per_call"]["tamsel"] for t in back_to_back}
    calls = {key: interleaved.samples_per_round(per_call[key], min_seconds) for key in payloads}
    medians = interleaved.interleaved_seconds(columnarize, payloads, rounds, calls)
    return [{"shape": shape, "size": size, "bytes": len(payloads[shape, size]), "seconds_per_call": m["seconds"],
             "cpu_seconds_per_call": m["cpu_seconds"], "mbps": len(payloads[shape, size]) / m["seconds"] / MB,
             "calls": calls[shape, size] * rounds, "minor_faults_per_call": m["faults"],
             "system_seconds_per_call": m["system_seconds"], "fresh_bytes_per_call": m["fresh_bytes"]}
            for (shape, size), m in medians.items()]


def measure_small(columnarize, rounds, min_seconds):
    """Seconds per call on a 30-byte payload: the module against msgspec decoding the same bytes."""
    log(f"small calls: {len(SMALL_PAYLOAD)} bytes")
    timers = {"tamsel": timing.python_timer(columnarize),
              "msgspec_decode": timing.python_timer(msgspec_baseline.decode)}
    return {"bytes": len(SMALL_PAYLOAD),
            "seconds_per_call": timing.interleaved_medians(timers, SMALL_PAYLOAD, max(rounds, 5), min_seconds)}


def measure_fresh(rounds, min_seconds):
    out = []
    for shape in corpus.SHAPES:
        log(f"fresh processes: {shape}")
        for size in FRESH_SIZES:
            out.append(dict(fresh.measure(corpus.corpus_file(shape, size), rounds, min_seconds),
                            shape=shape, size=size))
    return out


def measure_memory(size):
    path = corpus.corpus_file("api", size)
    log(f"memory: api {report.size_label(size)}")
    result = {"size": size}
    for which in ("module", "python"):
        m = memory.measure(which, path)
        result[which] = m["extra_bytes"] / m["payload_bytes"]
        result[which + "_extra_bytes"] = m["extra_bytes"]
    result["shapes"] = {}
    for shape in sorted(corpus.SHAPES):
        log(f"memory: {shape} {report.size_label(size)}")
        m = memory.measure("module", corpus.corpus_file(shape, size))
        result["shapes"][shape] = {"module": m["extra_bytes"] / m["payload_bytes"],
                                   "module_kept": m["kept_extra_bytes"] / m["payload_bytes"],
                                   "output": m["result_bytes"] / m["payload_bytes"]}
    log(f"retained memory: one api {report.size_label(size)} call, then {RETAINED_SMALL_CALLS} calls on 10 KB")
    retained = memory.measure_retained(path, corpus.corpus_file("api", RETAINED_SMALL_SIZE), RETAINED_SMALL_CALLS)
    result["retained"] = dict(retained, size=size, calls=RETAINED_SMALL_CALLS)
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
    out = []
    for size in THREAD_SIZES:
        log(f"threads: api {report.size_label(size)}")
        result = threads.measure(corpus.corpus_file("api", size), rounds, seconds_per_batch)
        result["size"] = size
        out.append(result)
    return out


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
    return {"mode": mode, "command": " ".join(["python3.14t", "bench/run.py", *sys.argv[1:]]), "commit": commit, "module": module_file, "module_built": built, "python": sys.version,
            "gil_enabled": sys._is_gil_enabled(), "machine": platform.machine(), "cpus": os.cpu_count(),
            "load_average_at_start": os.getloadavg(), "started": time.strftime("%Y-%m-%d %H:%M:%S")}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="sizes up to 10 MB, 3 rounds: about two minutes")
    parser.add_argument("--rounds", type=int, help="interleaved rounds per measurement")
    parser.add_argument("--out", type=Path, default=OUT_DIR)
    args = parser.parse_args()
    mode = "quick" if args.quick else "full"
    sizes, rounds, min_seconds, interleaved_seconds, batch_seconds = SETTINGS[mode]
    rounds = args.rounds or rounds

    native.build()
    yardsticks = native.Yardsticks()
    import tamsel_codec

    warn_if_stale(tamsel_codec.__file__)
    results = {"meta": metadata(mode, tamsel_codec.__file__)}
    columnarize = tamsel_codec.columnarize
    results["throughput"] = measure_throughput(sizes, rounds, min_seconds, yardsticks, columnarize)
    results["interleaved"] = measure_interleaved(sizes, rounds, interleaved_seconds, columnarize,
                                                 results["throughput"])
    results["small"] = measure_small(columnarize, rounds, min_seconds)
    results["fresh"] = measure_fresh(rounds, min_seconds)
    results["threads"] = measure_threads(rounds, batch_seconds)
    results["memory"] = measure_memory(sizes[-1])
    results["idle"] = measure_idle(sizes[-1], columnarize, rounds)
    results["meta"]["load_average_at_end"] = os.getloadavg()
    results["targets"] = targets.evaluate(results["throughput"], results["interleaved"], results["threads"],
                                          results["small"], results["memory"], results["idle"])

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
