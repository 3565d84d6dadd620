"""The performance targets, evaluated from the measured numbers.

Every row: target number, what is measured, the figure, the goal and
whether it is met. Ratios are of figures measured in the same process
(threads against processes: the same calls, at the same time of the run).
"""

KB, MB = 1_000, 1_000_000
LINEAR_BASE = 1 * MB  # the interleaved size the larger ones are held to
LINEAR_GOALS = [(10 * MB, 1.1), (100 * MB, 1.25)]
REF_SIZE = 10 * MB
# Peers of target 2: the back-to-back contender, its label and the least ratio.
PEERS = [("rapidjson", "RapidJSON pipeline", 2.0), ("msgspec", "msgspec+Python", 10.0),
         ("python", "Python codec (json)", 15.0)]


def size_label(size):
    return f"{size // MB} MB" if size >= MB else f"{size // KB} KB"


def _row(target, what, value, goal, higher_is_better=True):
    ok = value >= goal if higher_is_better else value <= goal
    return {"target": target, "what": what, "value": value,
            "goal": (">= " if higher_is_better else "<= ") + f"{goal:g}", "ok": ok}


def _reference(target, what, value):
    """A figure shown for comparison, with no goal of its own."""
    return {"target": target, "what": what, "value": value, "goal": "", "ok": None}


def _linear(interleaved):
    """Target 1: interleaved time per byte at 10 MB and at 100 MB against the same shape's at 1 MB."""
    seconds_per_byte = {(t["shape"], t["size"]): t["seconds_per_call"] / t["bytes"] for t in interleaved}
    rows = []
    for shape in sorted({t["shape"] for t in interleaved}):
        if (shape, LINEAR_BASE) not in seconds_per_byte:
            continue
        base = seconds_per_byte[shape, LINEAR_BASE]
        for size, goal in LINEAR_GOALS:
            if (shape, size) in seconds_per_byte:
                rows.append(_row(1, f"interleaved time/byte @{size_label(size)} / @1 MB, {shape}",
                                 seconds_per_byte[shape, size] / base, goal, False))
    return rows


def _peers(at):
    """Target 2: ahead of every peer at every size, on every shape (the worst size shown)."""
    rows = []
    for peer, label, goal in PEERS:
        for shape in sorted({shape for shape, _ in at}):
            ratio = {size: m["tamsel"] / m[peer] for (s, size), m in at.items() if s == shape and peer in m}
            if not ratio:
                continue
            worst = min(ratio, key=ratio.get)
            rows.append(_row(2, f"x {label}, {shape}, every size (worst: {size_label(worst)})", ratio[worst], goal))
    return rows


def _shape_memory(memory):
    """Target 3: peak extra memory of one large call against payload + output + 0.25 x payload."""
    rows = []
    for shape, m in sorted((memory or {}).get("shapes", {}).items()):
        goal = round(1.25 + m["output"], 2)
        rows.append(_row(3, f"peak extra RSS / payload @{size_label(memory['size'])} {shape} "
                            f"(goal: 1.25 + output {m['output']:.2f})", m["module"], goal, False))
    return rows


def _stretch(at):
    """Target 5: against simdjson's DOM parse at 10 MB."""
    shapes = sorted({shape for shape, _ in at})
    if not all((s, REF_SIZE) in at for s in shapes):
        return []
    return [_row(5, f"x simdjson DOM parse, {s} @10 MB", at[s, REF_SIZE]["tamsel"] / at[s, REF_SIZE]["simdjson"], 0.5)
            for s in shapes]


def _retired(threads, small, memory):
    """Figures of earlier targets, now met and retired, shown for comparison."""
    rows = []
    for t in threads:
        label = f"@{size_label(t['size'])} api"
        rows.append(_reference("-", f"2 threads / 2 processes {label}", t["two_threads"] / t["two_processes"]))
        rows.append(_reference("-", f"8 threads / 2 processes {label}", t["eight_threads"] / t["two_processes"]))
    if small:
        seconds = small["seconds_per_call"]
        rows.append(_reference("-", f"{small['bytes']}-byte call / msgspec.json.decode of it",
                               seconds["tamsel"] / seconds["msgspec_decode"]))
    if memory:
        for shape, m in sorted(memory.get("shapes", {}).items()):
            if "module_kept" in m:
                rows.append(_reference("-", f"peak extra RSS less lazily freed / payload @{size_label(memory['size'])} "
                                            f"{shape} (sampled)", m["module_kept"]))
        rows.append(_reference("-", f"peak extra RSS / payload, Python codec @{size_label(memory['size'])} api",
                               memory["python"]))
        retained = memory.get("retained")
        if retained:
            rows.append(_reference("-", f"RSS after 1 call @{size_label(retained['size'])} + {retained['calls']} "
                                        f"@10 KB, above before (MiB)", retained["retained_bytes"] / 2**20))
    return rows


def evaluate(throughput, interleaved, threads, small, memory, idle=None):
    """The list of target rows. Target 4 (nothing slower than before from 1 KB to 1 MB) compares two
    builds, which one run cannot: bench/ab.py measures it."""
    at = {(t["shape"], t["size"]): t["mbps"] for t in throughput}
    rows = _linear(interleaved) + _peers(at) + _shape_memory(memory) + _stretch(at) + _retired(threads, small, memory)
    if idle:
        # How much a first call after a pause costs on this host, for comparison.
        rows.append(_reference("-", f"first call after 2 s idle / back to back @{size_label(idle['size'])} api",
                               idle["after_idle"] / idle["back_to_back"]))
    return rows
