#!/usr/bin/env python3
"""Writes the seed corpora fuzz/seeds/{reader,transform}/ from the string
literals of the C++ test tables (tests/cpp/*_test.cpp).

Every literal (adjacent literals joined) that looks like JSON text becomes a
seed as it is, and a literal holding a single value also becomes a seed
wrapped in brackets, so number, string and equality cases reach the reader as
array elements. Seed files are named by a hash of their content; run again
after changing the tables.
"""
import hashlib
import pathlib
import re
import shutil

ROOT = pathlib.Path(__file__).resolve().parent.parent
SEEDS = ROOT / "fuzz" / "seeds"

LITERAL = re.compile(r'R"([^(\s]*)\((.*?)\)\1"|"((?:[^"\\\n]|\\.)*)"', re.S)
ESCAPES = {"n": b"\n", "t": b"\t", "r": b"\r", "0": b"\0", "b": b"\b", "f": b"\f",
           '"': b'"', "\\": b"\\", "'": b"'", "?": b"?"}


def decode(body):
    out = bytearray()
    i = 0
    while i < len(body):
        c = body[i]
        if c != "\\":
            out += c.encode()
            i += 1
            continue
        nxt = body[i + 1]
        if nxt == "x":
            m = re.match(r"[0-9a-fA-F]+", body[i + 2:])
            out.append(int(m.group(0), 16) & 0xFF)
            i += 2 + len(m.group(0))
        else:
            out += ESCAPES[nxt]
            i += 2
    return bytes(out)


def literals(source):
    """Yields each literal, joining literals separated only by whitespace."""
    joined, end = None, None
    for m in LITERAL.finditer(source):
        text = m.group(2).encode() if m.group(2) is not None else decode(m.group(3))
        if joined is not None and source[end:m.start()].strip() == "":
            joined += text
        else:
            if joined is not None:
                yield joined
            joined = text
        end = m.end()
    if joined is not None:
        yield joined


def looks_like_json(text):
    head = text.lstrip(b" \t\r\n")[:1]
    return head == b"" or head in b'[{"-0123456789tfn'


def main():
    found = set()
    for path in sorted((ROOT / "tests" / "cpp").glob("*_test.cpp")):
        for text in literals(path.read_text()):
            if not looks_like_json(text) or b"#include" in text:
                continue
            found.add(text)
            if not text.lstrip().startswith(b"["):
                found.add(b"[" + text + b"]")
    found.add((ROOT / "examples" / "sample.json").read_bytes())
    # Shapes the tables build in code: the nesting limit, objects large
    # enough for a hash index, and rows that share or change their names.
    found.add(b"[" * 127 + b"]" * 127)
    found.add(b"[" * 128)
    wide = ",".join(f'"m{k}":[{k}]' for k in range(30))
    found.add(f'[{{{wide}}},{{{wide},"m7":null}}]'.encode())
    found.add(b'[{"a":1,"b":2},{"a":1,"b":3},{"b":3,"a":1},{"a":1,"b":3,"c":0},{"a":1}]')
    for target in ("reader", "transform"):
        folder = SEEDS / target
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        for text in found:
            (folder / hashlib.sha1(text).hexdigest()[:16]).write_bytes(text)
    print(f"{len(found)} seeds in each of {SEEDS}/reader and {SEEDS}/transform")


if __name__ == "__main__":
    main()
