"""Deterministic benchmark payloads: four row shapes at any size.

    python3.14t bench/corpus.py SHAPE SIZE [--dir DIR]   # prints the file path

Each payload is a JSON array of row objects, built from a fixed seed per
shape, so the same shape and size always give the same bytes. Files are
written once into a cache directory (build/bench-corpus by default) and
reused. Sizes are bytes of JSON text; a payload stops at the last row that
fits (always at least two rows).
"""

import argparse
import json
import os
import random
import string
from pathlib import Path

DEFAULT_DIR = Path(__file__).resolve().parent.parent / "build" / "bench-corpus"

_STATUSES = ["active", "pending", "suspended", "closed", "trial"]
_FIRST = ["Ada", "Bruno", "Chiara", "Dmitri", "Élodie", "Farah", "Gustav", "Hiroshi", "Inés", "Jürgen"]
_LAST = ["Okafor", "Lindqvist", "García", "Nakamura", "O'Brien", "Kowalski", "Nguyễn", "Müller"]
_TAGS = ["vip", "beta", "eu", "us", "apac", "churn-risk", "annual", "monthly", "support", "partner"]
_WORDS = ["lorem", "ipsum", "dolor", "sit", "amet", "tab\there", "quote\"d", "back\\slash",
          "line\nbreak", "café", "naïve", "日本語", "Ünïcödé", "emoji 🎉", "ctrl\x01\x1f", "slash/ok"]


def _timestamp(rnd, base=1_700_000_000):
    t = base + rnd.randrange(0, 90 * 86400)
    days, rem = divmod(t, 86400)
    # Civil date from days since 1970-01-01 (proleptic Gregorian).
    z = days + 719468
    era, doe = divmod(z, 146097)
    yoe = (doe - doe // 1460 + doe // 36524 - doe // 146096) // 365
    doy = doe - (365 * yoe + yoe // 4 - yoe // 100)
    mp = (5 * doy + 2) // 153
    d = doy - (153 * mp + 2) // 5 + 1
    m = mp + 3 if mp < 10 else mp - 9
    y = yoe + era * 400 + (m <= 2)
    hh, rem = divmod(rem, 3600)
    mm, ss = divmod(rem, 60)
    return f"{y:04d}-{m:02d}-{d:02d}T{hh:02d}:{mm:02d}:{ss:02d}Z"


def api_row(rnd, i):
    first, last = rnd.choice(_FIRST), rnd.choice(_LAST)
    row = {
        "id": 100_000 + i,
        "uuid": "%032x" % rnd.getrandbits(128),
        "name": f"{first} {last}",
        "email": f"{first.lower()}.{i}@example.com",
        "created_at": _timestamp(rnd),
        "status": rnd.choice(_STATUSES),
        "verified": rnd.random() < 0.7,
        "price": round(rnd.uniform(1, 500), 2),
        "currency": "EUR",
        "api_version": 3,
        "address": {"city": rnd.choice(["Lyon", "Osaka", "Lagos", "Quito"]), "zip": f"{rnd.randrange(10000, 99999)}"},
        "tags": rnd.sample(_TAGS, rnd.randrange(0, 4)),
        "manager_id": None if rnd.random() < 0.4 else rnd.randrange(1, 500),
        "deleted_at": None,
    }
    if rnd.random() < 0.3:
        row["coupon"] = "".join(rnd.choices(string.ascii_uppercase + string.digits, k=8))
    if rnd.random() < 0.2:
        del row["manager_id"]
    return row


def metrics_row(rnd, i):
    return {
        "ts": 1_700_000_000_000 + i * 250,
        "host": rnd.randrange(0, 64),
        "cpu": rnd.random() * 100,
        "load1": rnd.uniform(0, 8),
        "mem_bytes": rnd.randrange(1 << 28, 1 << 36),
        "delta": rnd.randrange(-1_000_000, 1_000_000),
        "temp_c": round(rnd.gauss(45, 10), 3),
        "drift": rnd.gauss(0, 1e-3),
        "ratio": rnd.random(),
        "errors": rnd.randrange(0, 3),
        "scale": 1.0,
        "region": 7,
    }


def _text(rnd, n):
    return " ".join(rnd.choice(_WORDS) for _ in range(n))


def strings_row(rnd, i):
    return {
        "id": f"doc-{i:08d}",
        "title": _text(rnd, rnd.randrange(2, 6)),
        "body": _text(rnd, rnd.randrange(10, 40)),
        "author": f"{rnd.choice(_FIRST)} {rnd.choice(_LAST)}",
        "lang": rnd.choice(["fr", "ja", "de", "en"]),
        "path": "/srv/data/" + "/".join(rnd.choices(_WORDS[:5], k=3)),
        "note": None if rnd.random() < 0.5 else _text(rnd, 3),
        "source": "crawler \"v2\"",
    }


_WIDE_COLUMNS = 240


def wide_row(rnd, i):
    row = {"id": i, "kind": "event"}
    for c in sorted(rnd.sample(range(_WIDE_COLUMNS), 24)):
        pick = c % 4
        if pick == 0:
            value = rnd.randrange(0, 10_000)
        elif pick == 1:
            value = f"v{rnd.randrange(0, 1000)}"
        elif pick == 2:
            value = rnd.random() < 0.5
        else:
            value = None if rnd.random() < 0.3 else round(rnd.uniform(-1, 1), 4)
        row[f"attr_{c:03d}"] = value
    return row


SHAPES = {"api": api_row, "metrics": metrics_row, "strings": strings_row, "wide": wide_row}
_SEEDS = {"api": 11, "metrics": 23, "strings": 37, "wide": 53}


def generate(shape, size):
    """The payload bytes of one shape at about `size` bytes."""
    make_row = SHAPES[shape]
    rnd = random.Random(_SEEDS[shape])
    dumps = json.JSONEncoder(separators=(",", ":"), ensure_ascii=False).encode
    parts, total, i = [], 2, 0
    while True:
        text = dumps(make_row(rnd, i)).encode()
        if total + len(text) + 1 > size and i >= 2:
            break
        parts.append(text)
        total += len(text) + 1
        i += 1
    return b"[" + b",".join(parts) + b"]"


def corpus_file(shape, size, directory=DEFAULT_DIR):
    """Path of the cached payload file, generating it when missing."""
    directory = Path(directory)
    path = directory / f"{shape}-{size}.json"
    if not path.exists():
        directory.mkdir(parents=True, exist_ok=True)
        tmp = path.with_suffix(f".tmp{os.getpid()}")
        tmp.write_bytes(generate(shape, size))
        tmp.replace(path)
    return path


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("shape", choices=sorted(SHAPES))
    parser.add_argument("size", type=int, help="bytes of JSON text")
    parser.add_argument("--dir", default=DEFAULT_DIR)
    args = parser.parse_args()
    print(corpus_file(args.shape, args.size, args.dir))


if __name__ == "__main__":
    main()
