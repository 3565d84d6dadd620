__all__ = ["columnarize"]

def columnarize(payload: bytes, min_rows: int = 20) -> bytes:
    """Columnarize a row-oriented JSON payload (bytes or str), GIL released
    for the duration of the transform.

    Args:
        payload: UTF-8 JSON bytes/str encoding a `list[dict]` of rows.
        min_rows: Accepted for parity with the Python codec's signature;
            not re-checked here (the Python caller already applied the
            guard before calling this function).

    Returns:
        UTF-8 JSON bytes encoding `{"columns", "rows", "constants"}`.

    Panic safety: `columnarize_json` is run inside `catch_unwind` so an
    unexpected panic (e.g. an unforeseen indexing bug) surfaces as an
    ordinary `PyRuntimeError` instead of PyO3's `PanicException`.
    `PanicException` derives from `BaseException`, not `Exception` — it
    would silently bypass `columnar`'s `except Exception:` guard and
    break the "a broken codec must never break a tool call" contract
    (code-review fix). This does NOT protect against a stack overflow,
    which aborts the process unconditionally in Rust and cannot be caught
    by any mechanism — a residual, documented limitation.
    """
