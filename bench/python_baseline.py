"""The columnar transform in plain Python on the `json` module: the baseline
that the native module is measured against.

Same rules as the module: columns in first-seen order, columns null or absent
in every row dropped, constants only with two rows or more when every row
holds row 0's value. Whole row values that are numbers compare by
mathematical value (1 equals 1.0, two different integers never do); nested
values compare by kind and variant (1 inside an array is not 1.0). Float
text is Python's repr, so outputs holding floats may differ in their text
from the module's (for example 1e-07 against 1e-7) but not in value.
"""

import json

_encode = json.JSONEncoder(separators=(",", ":"), ensure_ascii=False).encode
_NUMBER = (int, float)


def strict_equal(a, b):
    """Equality that keeps kinds and number variants apart at every level."""
    if type(a) is not type(b):
        return False
    if type(a) is list:
        return len(a) == len(b) and all(strict_equal(x, y) for x, y in zip(a, b))
    if type(a) is dict:
        if len(a) != len(b):
            return False
        for key, value in a.items():
            if key not in b or not strict_equal(value, b[key]):
                return False
        return True
    return a == b


def row_value_equal(a, b):
    """Equality of two whole row values: numbers by mathematical value."""
    ta, tb = type(a), type(b)
    if ta in _NUMBER and tb in _NUMBER:
        return a == b  # exact for int against float in Python
    return strict_equal(a, b)


def columnar_document(rows):
    """The columnar document (a dict) of decoded rows; ValueError when they
    are not a list of objects. Shared by every Python codec in the bench."""
    if type(rows) is not list:
        raise ValueError("invalid row-oriented JSON: expected a sequence")
    for row in rows:
        if type(row) is not dict:
            raise ValueError("expected a JSON object row, got: " + _encode(row))

    seen = {}
    for row in rows:
        for name in row:
            if name not in seen:
                seen[name] = None

    columns = [name for name in seen if any(row.get(name) is not None for row in rows)]

    constants = {}
    if len(rows) >= 2:
        first = rows[0]
        for name in columns:
            reference = first.get(name)
            if all(row_value_equal(row.get(name), reference) for row in rows):
                constants[name] = reference
        if constants:
            columns = [name for name in columns if name not in constants]

    row_arrays = [[row.get(name) for name in columns] for row in rows]
    return {"columns": columns, "rows": row_arrays, "constants": constants}


def columnarize(payload: bytes) -> bytes:
    return _encode(columnar_document(json.loads(payload))).encode()
