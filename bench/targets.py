"""The performance targets, evaluated from the measured numbers.

Every row: target number, what is measured, the figure, the goal and
whether it is met. Ratios are of figures measured in the same process
(threads against processes: the same calls, at the same time of the run).
"""

KB, MB = 1_000, 1_000_000
STEADY_BASE = 100 * KB  # the interleaved size the larger ones are held to
REF_SIZE = 10 * MB


def size_label(size):
    return f"{size // MB} MB" if size >= MB else f"{size // KB} KB"


def _row(target, what, value, goal, higher_is_better=True):
    ok = value >= goal if higher_is_better else value <= goal
    return {"target": target, "what": what, "value": value,
            "goal": (">= " if higher_is_better else "<= ") + f"{goal:g}", "ok": ok}


def _reference(target, what, value):
    """A figure shown for comparison, with no goal of its own."""
    return {"target": target, "what": what, "value": value, "goal": "", "ok": None}


def _steady(interleaved):
    """Target 1: interleaved time per byte at 1 MB and up against 100 KB, the worst size per shape."""
    seconds_per_byte = {(t["shape"], t["size"]): t["seconds_per_call"] / t["bytes"] for t in interleaved}
    rows = []
    for shape in sorted({t["shape"] for t in interleaved}):
        larger = sorted(size for s, size in seconds_per_byte if s == shape and size >= MB)
        if (shape, STEADY_BASE) not in seconds_per_byte or not larger:
            continue
        base = seconds_per_byte[shape, STEADY_BASE]
        worst = max(larger, key=lambda size: seconds_per_byte[shape, size])
        sizes = "/".join(size_label(size).replace(" MB", "") for size in larger) + " MB"
        rows.append(_row(1, f"interleaved time/byte @{sizes} / @100 KB, {shape} (worst: {size_label(worst)})",
                         seconds_per_byte[shape, worst] / base, 1.2, False))
    return rows


def _threads(threads):
    """Target 2: threads of one process against two processes making the same calls."""
    rows = []
    for t in threads:
        label = f"@{size_label(t['size'])} api"
        rows.append(_row(2, f"2 threads / 2 processes {label}", t["two_threads"] / t["two_processes"], 0.95))
        rows.append(_row(2, f"8 threads / 2 processes {label}", t["eight_threads"] / t["two_processes"], 0.9))
    for t in threads:
        rows.append(_reference(2, f"2 threads / 1 thread @{size_label(t['size'])} api",
                               t["two_threads"] / t["one_thread"]))
    return rows


def _small(small, at):
    """Target 3: a 30-byte call against decoding the same bytes; 1 KB against RapidJSON."""
    rows = []
    if small:
        seconds = small["seconds_per_call"]
        rows.append(_row(3, f"{small['bytes']}-byte call / msgspec.json.decode of it",
                         seconds["tamsel"] / seconds["msgspec_decode"], 1.0, False))
    for shape in sorted({shape for shape, size in at if size == KB}):
        m = at[shape, KB]
        rows.append(_row(3, f"x RapidJSON pipeline, {shape} @1 KB", m["tamsel"] / m["rapidjson"], 2.0))
    return rows


def _raw(at):
    """Target 4: back to back against simdjson's parse, msgspec + Python and the Python codec."""
    shapes = sorted({shape for shape, _ in at})
    rows = []
    if all((s, REF_SIZE) in at for s in shapes):
        rows += [_row(4, f"x simdjson DOM parse, {s} @10 MB", at[s, REF_SIZE]["tamsel"] / at[s, REF_SIZE]["simdjson"],
                      0.5) for s in shapes]
    for s in shapes:
        sizes = sorted(size for shape, size in at if shape == s and size >= 100 * KB)
        if not sizes:
            continue
        ratio = {size: at[s, size]["tamsel"] / at[s, size]["msgspec"] for size in sizes}
        worst = min(sizes, key=ratio.get)
        rows.append(_row(4, f"x msgspec+Python, {s}, every size from 100 KB (worst: {size_label(worst)})",
                         ratio[worst], 10.0))
    if all((s, REF_SIZE) in at for s in shapes):
        rows += [_row(4, f"x Python codec (json), {s} @10 MB", at[s, REF_SIZE]["tamsel"] / at[s, REF_SIZE]["python"],
                      20.0) for s in shapes]
    return rows


def _memory(memory):
    """Target 5: peak extra memory of one large call, and what a large call leaves behind."""
    rows = []
    if memory:
        label = f"@{size_label(memory['size'])} api"
        rows.append(_row(5, f"peak extra RSS / payload {label}", memory["module"], 2.5, False))
        rows.append(_reference(5, f"peak extra RSS / payload, Python codec {label}", memory["python"]))
        retained = memory.get("retained")
        if retained:
            rows.append(_row(5, f"RSS after 1 call @{size_label(retained['size'])} + {retained['calls']} "
                                f"@10 KB, above before (MiB)", retained["retained_bytes"] / 2**20, 64, False))
    return rows


def evaluate(throughput, interleaved, threads, small, memory, idle=None):
    """The list of target rows."""
    at = {(t["shape"], t["size"]): t["mbps"] for t in throughput}
    rows = _steady(interleaved) + _threads(threads) + _small(small, at) + _raw(at) + _memory(memory)
    if idle:
        # How much a first call after a pause costs on this host, for comparison.
        rows.append(_reference(1, f"first call after 2 s idle / back to back @{size_label(idle['size'])} api",
                               idle["after_idle"] / idle["back_to_back"]))
    return rows
