"""The module under each kernel forced through TAMSEL_KERNEL, and under
names that are no kernel or not one this processor runs: the same results
and messages, and never a failed import."""

import json
import os
import subprocess
import sys

import pytest

# Strings that end before, at and after the 16- and 32-byte steps, with
# escapes and non-ASCII text at every such place, and malformed UTF-8 there.
_CALLS = r"""
import json, sys
from tamsel_codec import columnarize
payloads = []
for n in (0, 1, 15, 16, 17, 31, 32, 33, 63, 64, 65):
    text = "k" * n
    for piece in ('', '\\"', '\\u00e9', 'caf\u00e9', '\u20ac', '\U0001f600'):
        payloads.append(('[{"%s":"%s%s"},{"%s":"%s"}]' % (text, text, piece, text, piece)).encode())
    for bad in (b'\xc3', b'\xed\xa0\x80', b'\xf4\x90\x80\x80', b'\xc0\x80', b'\x01'):
        payloads.append(b'[{"a":"' + text.encode() + bad + b'"}]')
out = []
for p in payloads:
    try:
        out.append(columnarize(p).decode("utf-8", "replace"))
    except RuntimeError as e:
        out.append("RuntimeError: " + str(e))
print(json.dumps(out))
"""


def _run(kernel):
    env = dict(os.environ)
    env.pop("TAMSEL_KERNEL", None)
    if kernel is not None:
        env["TAMSEL_KERNEL"] = kernel
    done = subprocess.run([sys.executable, "-c", _CALLS], env=env, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


@pytest.fixture(scope="module")
def chosen_freely():
    return _run(None)


@pytest.mark.parametrize("kernel", ["portable", "sse2", "avx2", "", "avx512", "no such kernel", "AVX2"])
def test_every_kernel_and_every_setting_gives_the_same_results(kernel, chosen_freely):
    assert _run(kernel) == chosen_freely


def test_the_payloads_reach_both_outcomes(chosen_freely):
    assert any(r.startswith('{"columns"') for r in chosen_freely)
    assert any(r.startswith("RuntimeError: invalid row-oriented JSON: invalid unicode code point")
               for r in chosen_freely)
    assert any("control character" in r for r in chosen_freely)
