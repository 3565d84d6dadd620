"""The results as a text table, a JSON file and a PNG plot."""

import json

from targets import size_label

CONTENDERS = ["tamsel", "native", "rapidjson", "simdjson", "msgspec", "python", "memcpy"]
LABELS = {
    "tamsel": "tamsel_codec.columnarize",
    "native": "columnarize_json (C++, no module)",
    "rapidjson": "RapidJSON parse+columnarize+write",
    "simdjson": "simdjson parse only",
    "msgspec": "msgspec decode+Python transform+encode",
    "python": "Python transform (json)",
    "memcpy": "memcpy",
}


def table(results):
    lines = ["Back to back: input MB/s (median of interleaved rounds) and ratios of tamsel_codec.columnarize;",
             "faults/call: minor page faults per call, module / columnarize_json alone", ""]
    head = f"{'shape':<8} {'size':>6} " + " ".join(f"{c:>10}" for c in CONTENDERS)
    head += f" {'xRapidJSON':>10} {'xsimdjson':>10} {'xmsgspec':>8} {'xPython':>8} {'faults/call':>15}  output check"
    lines.append(head)
    for t in results["throughput"]:
        m = t["mbps"]
        line = f"{t['shape']:<8} {size_label(t['size']):>6} " + " ".join(
            f"{m[c]:>10.1f}" if c in m else f"{'-':>10}" for c in CONTENDERS)
        line += f" {m['tamsel'] / m['rapidjson']:>10.2f} {m['tamsel'] / m['simdjson']:>10.2f}"
        python = f"{m['tamsel'] / m['python']:>8.1f}" if "python" in m else f"{'-':>8}"
        line += f" {m['tamsel'] / m['msgspec']:>8.1f} {python}"
        faults = t["minor_faults_per_call"]
        line += f" {faults['tamsel']:>7.0f}/{faults['native']:<7.0f}"
        check = t.get("check")
        if check:
            line += "  " + ", ".join(f"{name}: {verdict}" for name, verdict in check.items())
        lines.append(line)
    lines += ["", *_interleaved_table(results), "", *_fresh_table(results), "", *_threads_table(results), "",
              *_other_lines(results), "",
              *targets_table(results["targets"]), "", f"Reproduce: {results['meta']['command']}"]
    return "\n".join(lines)


def _interleaved_table(results):
    """The module between other work beside back to back, per shape and size."""
    back_to_back = {(t["shape"], t["size"]): t for t in results["throughput"]}
    rows = {(t["shape"], t["size"]): t for t in results["interleaved"]}
    lines = ["tamsel_codec.columnarize interleaved with other Python work (no warm-up call) and back to back (b2b):",
             "input MB/s; interleaved time per byte against the same shape's 100 KB, in wall time and in the",
             "thread's CPU time; minor page faults per call; the call's system time and the fresh memory it",
             "touched (resident memory added at its peak) against its payload",
             f"{'shape':<8} {'size':>6} {'MB/s':>8} {'b2b MB/s':>9} {'x100KB':>7} {'cpu x100KB':>10} {'faults':>8} "
             f"{'b2b faults':>10} {'sys ms':>8} {'fresh':>6}"]

    def per_byte(t, key):
        return t[key] / t["bytes"]

    for shape, size in sorted(rows):
        t, b2b, base = rows[shape, size], back_to_back.get((shape, size)), rows.get((shape, 100_000))
        line = f"{shape:<8} {size_label(size):>6} {t['mbps']:>8.0f} "
        line += f"{b2b['mbps']['tamsel']:>9.0f} " if b2b else f"{'-':>9} "
        if base:
            line += f"{per_byte(t, 'seconds_per_call') / per_byte(base, 'seconds_per_call'):>7.2f} "
            line += f"{per_byte(t, 'cpu_seconds_per_call') / per_byte(base, 'cpu_seconds_per_call'):>10.2f} "
        else:
            line += f"{'-':>7} {'-':>10} "
        line += f"{t['minor_faults_per_call']:>8.0f} "
        line += f"{b2b['minor_faults_per_call']['tamsel']:>10.0f}" if b2b else f"{'-':>10}"
        if "system_seconds_per_call" in t:
            line += f" {t['system_seconds_per_call'] * 1e3:>8.1f} {t['fresh_bytes_per_call'] / t['bytes']:>5.2f}x"
        lines.append(line)
    return lines


def _fresh_table(results):
    """Each payload in a process of its own, beside back to back in the driver's process."""
    back_to_back = {(t["shape"], t["size"]): t["mbps"]["tamsel"] for t in results["throughput"]}
    rows = results.get("fresh", [])
    sizes = sorted({t["size"] for t in rows})
    lines = ["tamsel_codec.columnarize alone in a fresh process: input MB/s / minor page faults per call"
             + (f"; x b2b: against back to back @{size_label(100_000)} in this process" if rows else ""),
             f"{'shape':<8} " + " ".join(f"{size_label(s):>14}" for s in sizes) + f" {'x b2b':>7}"]
    for shape in sorted({t["shape"] for t in rows}):
        by_size = {t["size"]: t for t in rows if t["shape"] == shape}
        line = f"{shape:<8} " + " ".join(
            f"{by_size[s]['mbps']:>9.0f} / {by_size[s]['minor_faults_per_call']:<3.0f}" for s in sizes)
        b2b = back_to_back.get((shape, 100_000))
        line += f" {by_size[100_000]['mbps'] / b2b:>7.2f}" if b2b and 100_000 in by_size else f" {'-':>7}"
        lines.append(line)
    return lines


def _threads_table(results):
    names = ["one_thread", "two_threads", "eight_threads", "two_processes", "two_native_processes"]
    lines = ["Threads (api payload), input MB/s of the whole set-up: " + ", ".join(names)]
    for t in results["threads"]:
        lines.append(f"{size_label(t['size']):>6}: " + "  ".join(f"{t[name] / 1e6:8.0f}" for name in names))
    return lines


def _other_lines(results):
    lines = []
    small = results.get("small")
    if small:
        seconds = small["seconds_per_call"]
        lines.append(f"{small['bytes']}-byte payload, per call: " +
                     ", ".join(f"{name} {s * 1e6:.3f} us" for name, s in seconds.items()))
    memory = results.get("memory")
    if memory and memory.get("retained"):
        r = memory["retained"]
        lines.append(f"Retained: RSS {r['before_bytes'] / 2**20:.0f} MiB before one {size_label(r['size'])} "
                     f"call, {r['after_bytes'] / 2**20:.0f} MiB after it and {r['calls']} calls on 10 KB")
    return lines


def targets_table(rows):
    lines = [f"{'target':<6} {'measure':<80} {'value':>8} {'goal':>8}  met"]
    for row in rows:
        lines.append(f"{row['target']:<6} {row['what']:<80} {row['value']:>8.2f} {row['goal']:>8}  "
                     + {True: "yes", False: "NO", None: "-"}[row["ok"]])
    return lines


def write_json(results, path):
    path.write_text(json.dumps(results, indent=1) + "\n")


def plot(results, path, ref_size):
    """Bars of MB/s per shape at ref_size, and the module's MB/s against payload size."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    data = results["throughput"]
    shapes = sorted({t["shape"] for t in data})
    fig, (bars, lines) = plt.subplots(1, 2, figsize=(14, 5.5))
    at = {(t["shape"], t["size"]): t["mbps"] for t in data}
    width = 0.8 / len(CONTENDERS)
    for i, c in enumerate(CONTENDERS):
        xs = [k + (i - (len(CONTENDERS) - 1) / 2) * width for k in range(len(shapes))]
        bars.bar(xs, [at[s, ref_size][c] for s in shapes], width, label=LABELS[c])
    bars.set_xticks(range(len(shapes)), shapes)
    bars.set_yscale("log")
    bars.set_ylabel("input MB/s")
    bars.set_title(f"Throughput per shape at {size_label(ref_size)}")
    bars.set_ylim(top=bars.get_ylim()[1] * 40)  # room for the legend above the bars
    bars.legend(fontsize=8, ncol=2, loc="upper left")
    sizes = sorted({t["size"] for t in data})
    for s in shapes:
        (line,) = lines.plot(sizes, [at[s, z]["tamsel"] for z in sizes], marker="o", label=f"{s}: tamsel_codec")
        lines.plot(sizes, [at[s, z]["rapidjson"] for z in sizes], ls="--", color=line.get_color(),
                   label=f"{s}: RapidJSON")
    lines.set_xscale("log")
    lines.set_yscale("log")
    lines.set_xticks(sizes, [size_label(z) for z in sizes])
    lines.set_xlabel("payload size")
    lines.set_ylabel("input MB/s")
    lines.set_title("Throughput against payload size")
    lines.legend(fontsize=7)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
