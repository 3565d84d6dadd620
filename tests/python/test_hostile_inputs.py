"""Hostile payloads: each gives the documented RuntimeError or a correct
result, and the interpreter survives to make the next call."""
import json

import pytest

from tamsel_codec import columnarize

PARSE_PREFIX = "invalid row-oriented JSON: "


def columnar_rows(output):
    """Rebuilds the rows' non-null members from the columnar output."""
    doc = json.loads(output)
    assert list(doc) == ["columns", "rows", "constants"]
    rebuilt = []
    for cells in doc["rows"]:
        assert len(cells) == len(doc["columns"])
        row = {name: value for name, value in zip(doc["columns"], cells) if value is not None}
        row.update(doc["constants"])
        rebuilt.append(row)
    return rebuilt


def non_null(rows):
    return [{k: v for k, v in row.items() if v is not None} for row in rows]


def test_a_million_opening_brackets():
    with pytest.raises(RuntimeError) as caught:
        columnarize(b"[" * 1_000_000)
    assert str(caught.value) == PARSE_PREFIX + "recursion limit exceeded at line 1 column 128"


def test_a_100_mb_string_survives_intact():
    text = "x\u00e9" * (50 * 1024 * 1024 // 3)
    payload = json.dumps([{"s": text, "n": 1}, {"s": text, "n": 2}], ensure_ascii=False).encode()
    assert len(payload) > 100 * 1024 * 1024
    out = columnarize(payload)
    assert out.startswith(b'{"columns":["n"],"rows":[[1],[2]],"constants":{"s":"x\xc3\xa9')
    assert len(out) == len(text.encode()) + len(b'{"columns":["n"],"rows":[[1],[2]],"constants":{"s":""}}')


def test_100000_distinct_keys_in_one_row():
    row = {f"key{i}": i for i in range(100_000)}
    out = columnarize(json.dumps([row, {"key5": "five"}]).encode())
    doc = json.loads(out)
    assert doc["columns"] == list(row)
    assert doc["rows"][0] == list(row.values())
    assert doc["rows"][1] == [None] * 5 + ["five"] + [None] * (100_000 - 6)


def test_every_row_with_a_key_of_its_own():
    rows = [{f"only{i}": i} for i in range(3000)]
    out = columnarize(json.dumps(rows).encode())
    assert columnar_rows(out) == rows
    assert len(out) > 3000 * 3000 * 4  # rows x columns cells, mostly null


STRING_SLOTS = [
    ('[{"k":%s}]', "value"),
    ('[{%s:1}]', "key"),
    ('[{"k":[1,{"n":%s}]}]', "nested value"),
    ('[{"k":{%s:true}}]', "nested key"),
    ("[%s]", "row"),
    ("%s", "top level"),
]

BAD_STRINGS = [
    (b'"\xff"', "invalid unicode code point"),
    (b'"\xc0\xaf"', "invalid unicode code point"),
    (b'"\xed\xa0\x80"', "invalid unicode code point"),
    (b'"\xf4\x90\x80\x80"', "invalid unicode code point"),
    (b'"ab\xe2\x82"', "invalid unicode code point"),
    (b'"\\udc00"', "lone leading surrogate in hex escape"),
    (b'"\\ud800"', "unexpected end of hex escape"),
    (b'"\\ud800\\u0041"', "lone leading surrogate in hex escape"),
    (b'"\\ud800x"', "unexpected end of hex escape"),
]


@pytest.mark.parametrize("template,slot", STRING_SLOTS, ids=[s for _, s in STRING_SLOTS])
@pytest.mark.parametrize("bad,message", BAD_STRINGS, ids=[repr(b) for b, _ in BAD_STRINGS])
def test_invalid_text_in_every_string_slot(template, slot, bad, message):
    payload = template.encode().replace(b"%s", bad)
    with pytest.raises(RuntimeError) as caught:
        columnarize(payload)
    assert str(caught.value).startswith(PARSE_PREFIX + message + " at line 1 column ")


def test_every_truncation_of_a_valid_document_fails_cleanly():
    doc = json.dumps(
        [{"id": 1, "name": "caf\u00e9 \"q\"", "tags": ["a", "\U0001F600"], "x": -1.5e-7, "n": None, "t": True},
         {"id": 2, "meta": {"k": [1, 2, {"z": False}]}, "esc": "\\u0041\n"}],
        ensure_ascii=False,
    ).encode()
    assert columnar_rows(columnarize(doc)) == non_null(json.loads(doc))
    for cut in range(len(doc)):
        with pytest.raises(RuntimeError) as caught:
            columnarize(doc[:cut])
        assert str(caught.value).startswith(PARSE_PREFIX), (cut, str(caught.value))
