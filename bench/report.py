"""The results as a text table, a JSON file and a PNG plot."""

import json

CONTENDERS = ["tamsel", "native", "rapidjson", "simdjson", "python", "memcpy"]
LABELS = {
    "tamsel": "tamsel_codec.columnarize",
    "native": "columnarize_json (C++, no module)",
    "rapidjson": "RapidJSON parse+columnarize+write",
    "simdjson": "simdjson parse only",
    "python": "Python transform (json)",
    "memcpy": "memcpy",
}


def size_label(size):
    return f"{size // 1_000_000} MB" if size >= 1_000_000 else f"{size // 1_000} KB"


def table(results):
    lines = ["Input MB/s (median of interleaved rounds) and ratios of tamsel_codec.columnarize;",
             "faults/call: minor page faults per call, module / columnarize_json alone", ""]
    head = f"{'shape':<8} {'size':>6} " + " ".join(f"{c:>10}" for c in CONTENDERS)
    head += f" {'xRapidJSON':>10} {'xsimdjson':>10} {'xPython':>8} {'faults/call':>15}  output check"
    lines.append(head)
    for t in results["throughput"]:
        m = t["mbps"]
        line = f"{t['shape']:<8} {size_label(t['size']):>6} " + " ".join(f"{m[c]:>10.1f}" for c in CONTENDERS)
        line += f" {m['tamsel'] / m['rapidjson']:>10.2f} {m['tamsel'] / m['simdjson']:>10.2f}"
        line += f" {m['tamsel'] / m['python']:>8.1f}"
        faults = t["minor_faults_per_call"]
        line += f" {faults['tamsel']:>7.0f}/{faults['native']:<7.0f}"
        check = t.get("check")
        if check:
            line += f"  python: {check['python']}, rapidjson: {check['rapidjson']}"
        lines.append(line)
    lines += ["", f"{'target':<6} {'measure':<52} {'value':>8} {'goal':>8}  met"]
    for row in results["targets"]:
        lines.append(f"{row['target']:<6} {row['what']:<52} {row['value']:>8.2f} {row['goal']:>8}  "
                     + {True: "yes", False: "NO", None: "-"}[row["ok"]])
    return "\n".join(lines)


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
