import sys

import pytest

from tamsel_codec import columnarize

PAYLOAD_NOTE = ["while processing 'payload'"]
MIN_ROWS_NOTE = ["while processing 'min_rows'"]
EMPTY_OUTPUT = b'{"columns":[],"rows":[],"constants":{}}'
MISSING = "columnarize() missing 1 required positional argument: 'payload'"


def _unexpected(name):
    return f"columnarize() got an unexpected keyword argument '{name}'"


def _multiple(name):
    return f"columnarize() got multiple values for argument '{name}'"


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class BadIndex:
    def __index__(self):
        raise LookupError("no index here")


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, MISSING),
        ((), {"min_rows": 3}, MISSING),
        ((b"[]", 1, 2), {}, "columnarize() takes from 1 to 2 positional arguments but 3 were given"),
        ((b"[]", 1, 2, 3), {}, "columnarize() takes from 1 to 2 positional arguments but 4 were given"),
        ((b"[]", 1, 2), {"bogus": 1}, "columnarize() takes from 1 to 2 positional arguments but 3 were given"),
        ((b"[]",), {"bogus": 1}, _unexpected("bogus")),
        ((b"[]",), {"Payload": b"[]"}, _unexpected("Payload")),
        ((b"[]",), {"payload": b"[]"}, _multiple("payload")),
        ((b"[]", 1), {"min_rows": 1}, _multiple("min_rows")),
        ((b"[]",), {"bogus": 1, "payload": b"[]"}, _unexpected("bogus")),
        ((b"[]",), {"payload": b"[]", "bogus": 1}, _multiple("payload")),
        ((), {"bogus": 1}, _unexpected("bogus")),
        # Argument errors come before extraction errors.
        (("not bytes",), {"nope": 1}, _unexpected("nope")),
        ((b"[]",), {"\ud800x": 1}, _unexpected("\ufffd\ufffd\ufffdx")),
    ],
)
def test_argument_errors(args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        columnarize(*args, **kwargs)
    assert caught.value.args == (message,)
    assert not hasattr(caught.value, "__notes__")


def test_unprintable_keyword_name_is_reported_as_unraisable(monkeypatch):
    class Name(str):
        def __str__(self):
            raise ValueError("no text")

    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)
    with pytest.raises(TypeError) as caught:
        columnarize(b"[]", **{Name("odd"): 1})
    assert str(caught.value) == _unexpected("<unprintable Name object>")
    assert len(seen) == 1 and isinstance(seen[0].exc_value, ValueError)


class Outer:
    class Inner:
        pass


@pytest.mark.parametrize(
    "payload, message",
    [
        ("[]", "'str' object is not an instance of 'bytes'"),
        (None, "'None' is not an instance of 'bytes'"),
        (bytearray(b"[]"), "'bytearray' object is not an instance of 'bytes'"),
        (memoryview(b"[]"), "'memoryview' object is not an instance of 'bytes'"),
        (Outer.Inner(), "'Outer.Inner' object is not an instance of 'bytes'"),
    ],
)
def test_payload_must_be_bytes(payload, message):
    with pytest.raises(TypeError) as caught:
        columnarize(payload)
    assert caught.value.args == (message,)
    assert caught.value.__notes__ == PAYLOAD_NOTE


def test_bytes_subclass_payload_gives_exact_bytes():
    class Payload(bytes):
        pass

    result = columnarize(Payload(b"[]"), min_rows=Index(7))
    assert type(result) is bytes and result == EMPTY_OUTPUT


@pytest.mark.parametrize("min_rows", [0, 1, 20, 10**6, 2**64 - 1, True, Index(7)])
def test_accepted_min_rows_do_not_change_the_result(min_rows):
    payload = b'[{"a":1,"b":null},{"a":2}]'
    expected = columnarize(payload)
    assert columnarize(payload, min_rows) == expected
    assert columnarize(payload=payload, min_rows=min_rows) == expected


@pytest.mark.parametrize(
    "min_rows, exception",
    [
        (-1, OverflowError),
        (2**64, OverflowError),
        (Index(-5), OverflowError),
        (1.5, TypeError),
        (None, TypeError),
        ("3", TypeError),
        (BadIndex(), LookupError),
    ],
)
def test_rejected_min_rows_keep_their_exception_and_get_a_note(min_rows, exception):
    with pytest.raises(exception) as caught:
        columnarize(b"not json", min_rows=min_rows)
    assert type(caught.value) is exception
    assert caught.value.__notes__ == MIN_ROWS_NOTE


def test_payload_error_wins_over_min_rows_error():
    with pytest.raises(TypeError) as caught:
        columnarize("[]", -1)
    assert caught.value.__notes__ == PAYLOAD_NOTE


def test_note_is_added_to_existing_notes():
    class Noted:
        def __index__(self):
            error = ValueError("inner")
            error.add_note("first")
            raise error

    with pytest.raises(ValueError) as caught:
        columnarize(b"[]", Noted())
    assert caught.value.__notes__ == ["first", "while processing 'min_rows'"]


def test_failing_add_note_leaves_the_exception_as_it_was():
    class NoNotes(Exception):
        def add_note(self, note):
            raise RuntimeError("refusing notes")

    class Raising:
        def __index__(self):
            raise NoNotes("original")

    with pytest.raises(NoNotes) as caught:
        columnarize(b"[]", Raising())
    assert caught.value.args == ("original",)
    assert not hasattr(caught.value, "__notes__")
