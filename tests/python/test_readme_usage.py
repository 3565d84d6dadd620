"""The usage example in the README, run as it stands there."""
import json
import pathlib
import re

import pytest

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


@pytest.fixture(scope="module")
def usage():
    section = README.read_text(encoding="utf-8").split("## Using it in a service", 1)[1].split("\n## ", 1)[0]
    [code] = re.findall(r"```python\n(.*?)```", section, re.S)
    namespace = {}
    exec(compile(code, str(README), "exec"), namespace)
    return namespace


def _sent(usage, records):
    sent = []
    usage["send_records"](records, lambda body, kind: sent.append((body, kind)))
    [(body, kind)] = sent
    return body, kind


RECORDS = [
    {"id": i, "region": "eu-west", "score": i * 1.5, "manager": "Ada" if i % 3 == 0 else None}
    for i in range(1, 2001)
]


@pytest.mark.parametrize(
    "records, expected",
    [
        (RECORDS, RECORDS),
        # Absent fields come back as null; null-only fields do not come back.
        ([{"a": 1, "b": None}, {"a": 2, "c": "x"}], [{"a": 1, "c": None}, {"a": 2, "c": "x"}]),
        ([{"k": "same"}], [{"k": "same"}]),
        ([], []),
    ],
    ids=["many", "sparse", "one-row", "empty"],
)
def test_receiver_gets_the_rows_back(usage, records, expected):
    body, kind = _sent(usage, records)
    assert kind == "application/x-columnar+json"
    assert usage["expand_rows"](body) == expected


def test_large_list_is_sent_columnar_and_smaller(usage):
    body, _ = _sent(usage, RECORDS)
    assert json.loads(body)["constants"] == {"region": "eu-west"}
    assert len(body) < len(json.dumps(RECORDS, separators=(",", ":")))


def test_records_the_codec_rejects_are_sent_as_they_are(usage):
    body, kind = _sent(usage, [{"a": 1}, 2])
    assert (body, kind) == (b'[{"a":1},2]', "application/json")
