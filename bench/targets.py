"""The six targets, evaluated from the measured numbers."""

import math

KB, MB = 1_000, 1_000_000


def _geomean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values))


def _row(target, what, value, goal, higher_is_better=True):
    ok = value >= goal if higher_is_better else value <= goal
    return {"target": target, "what": what, "value": value,
            "goal": (">= " if higher_is_better else "<= ") + f"{goal:g}", "ok": ok}


def _reference(target, what, value):
    """A number shown for comparison, with no goal of its own."""
    return {"target": target, "what": what, "value": value, "goal": "", "ok": None}


def evaluate(throughput, memory, threads, ref_size, large_size, idle=None):
    """A list of rows: target number, what is measured, value, goal, whether met."""
    at = {(t["shape"], t["size"]): t["mbps"] for t in throughput}
    shapes = sorted({t["shape"] for t in throughput})
    sizes = sorted({t["size"] for t in throughput})
    rows = []

    vs_rj = {s: at[s, ref_size]["tamsel"] / at[s, ref_size]["rapidjson"] for s in shapes}
    rows.append(_row(1, f"x RapidJSON, geomean of shapes @{ref_size // MB} MB", _geomean(vs_rj.values()), 1.5))
    rows += [_row(1, f"x RapidJSON, {s} @{ref_size // MB} MB", v, 1.0) for s, v in vs_rj.items()]

    rows += [_row(2, f"x simdjson parse, {s} @{ref_size // MB} MB",
                  at[s, ref_size]["tamsel"] / at[s, ref_size]["simdjson"], 0.25) for s in shapes]

    for size in sizes:
        goal = 10.0 if size >= MB else 5.0
        label = f"{size // MB} MB" if size >= MB else f"{size // KB} KB"
        rows += [_row(3, f"x Python transform, {s} @{label}", at[s, size]["tamsel"] / at[s, size]["python"], goal)
                 for s in shapes]

    if memory:
        label = f"@{memory['size'] // MB} MB api"
        rows.append(_row(4, f"peak extra RSS / payload, module {label}", memory["module"], 3.0, False))
        rows.append(_reference(4, f"peak extra RSS / payload, Python transform {label}", memory["python"]))

    if threads:
        label = f"@{threads['size'] // MB} MB api"
        rows.append(_row(5, f"2 threads / 1 thread {label}", threads["two_threads"] / threads["one_thread"], 1.8))
        # On a busy machine: threads against processes making the same calls at
        # the same time. Processes running the bare transform (no payload copy,
        # no result object) are shown too; that gap is the module's own work,
        # not a lack of parallelism.
        rows.append(_row(5, f"2 threads / 2 module processes {label}",
                         threads["two_threads"] / threads["two_processes"], 0.9))
        rows.append(_reference(5, f"2 threads / 2 native processes {label}",
                               threads["two_threads"] / threads["two_native_processes"]))

    small = MB
    rows += [_row(6, f"time per MB @{large_size // MB} MB / @1 MB, {s}",
                  at[s, small]["tamsel"] / at[s, large_size]["tamsel"], 1.3, False) for s in shapes]
    if idle:
        # Samples are timed after a call of their own (see timing.py); how much
        # a first call after a pause costs on this host is shown here.
        rows.append(_reference(6, f"first call after 2 s idle / back to back @{idle['size'] // MB} MB api",
                               idle["after_idle"] / idle["back_to_back"]))
    return rows
