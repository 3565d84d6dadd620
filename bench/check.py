"""Output agreement between the module and the other contenders that write
an output (the Python codec, msgspec with the Python transform, the
RapidJSON yardstick) on one payload.

Verdicts, from best to worst:
- "identical": the same bytes;
- "same values": the documents parse to the same values (kinds and number
  variants included) but the text differs, as with float text such as 1e-07
  against 1e-7;
- "floats within 2 ulp": the same but for floats a unit or two in the last
  place apart; the module reads long decimal literals (more than 15 or so
  significant digits) with a fast conversion that is not correctly rounded,
  while Python and RapidJSON (full precision) round correctly;
- "MISMATCH": anything else.
"""

import json
import math


def _equal(a, b, float_equal):
    if type(a) is not type(b):
        return False
    if type(a) is list:
        return len(a) == len(b) and all(_equal(x, y, float_equal) for x, y in zip(a, b))
    if type(a) is dict:
        return len(a) == len(b) and all(k in b and _equal(v, b[k], float_equal) for k, v in a.items())
    if type(a) is float:
        return float_equal(a, b)
    return a == b


def _within_2_ulp(a, b):
    return abs(a - b) <= 2 * math.ulp(max(abs(a), abs(b)))


def compare(reference, other):
    if reference == other:
        return "identical"
    a, b = json.loads(reference), json.loads(other)
    if _equal(a, b, float.__eq__):
        return "same values"
    if _equal(a, b, _within_2_ulp):
        return "floats within 2 ulp"
    return "MISMATCH"


def check_outputs(module_out, others):
    """{name: verdict} of the module's output against each of `others` ({name: output})."""
    return {name: compare(module_out, out) for name, out in others.items()}
