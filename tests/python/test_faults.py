"""Internal faults, made on purpose by the fault-hook build of the module.

Each test runs in a fresh interpreter that imports the hook build, so it
never shadows the installed module here."""

import pytest

PREFIX = "internal panic during columnarization: "


def _assert_ok(result):
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout.splitlines()


@pytest.mark.parametrize(
    "hook, message",
    [
        ('HOOK("transform", "index 3 out of range")', PREFIX + "index 3 out of range"),
        ('HOOK("transform")', PREFIX + "unknown panic in columnarize_json"),
        ('HOOK("transform-oom")', PREFIX + "memory allocation failed"),
    ],
)
def test_fault_inside_the_transform_is_a_runtime_error(run_hooked, hook, message):
    result = run_hooked(f"""
        try:
            tamsel_codec.columnarize({hook})
        except Exception as e:
            print(type(e).__name__, repr(e.args))
        print(tamsel_codec.columnarize(b'[{{"a":1}},{{"a":2}}]'))
    """)
    assert _assert_ok(result) == [
        f"RuntimeError ({message!r},)",
        """b'{"columns":["a"],"rows":[[1],[2]],"constants":{}}'""",
    ]
    # The fault is reported where it happened.
    assert "internal fault" in result.stderr


@pytest.mark.parametrize(
    "hook, message, reported",
    [
        ('HOOK("body", "broken invariant")', "broken invariant", "broken invariant"),
        ('HOOK("body")', "panic from Rust code", "internal fault"),
    ],
)
def test_fault_elsewhere_is_the_fault_exception(run_hooked, hook, message, reported):
    result = run_hooked(f"""
        try:
            tamsel_codec.columnarize({hook})
        except Exception:
            print("caught as Exception")
        except BaseException as e:
            t = type(e)
            print(t.__module__, t.__name__, t.__bases__ == (BaseException,), repr(e.args))
        print(tamsel_codec.columnarize(b"[]"))
    """)
    assert _assert_ok(result) == [
        f"pyo3_runtime PanicException True ({message!r},)",
        """b'{"columns":[],"rows":[],"constants":{}}'""",
    ]
    assert reported in result.stderr


def test_result_out_of_memory_is_an_ordinary_memory_error(run_hooked):
    # Running out of memory making the result is no broken invariant: it
    # reaches an `except Exception:` guard, and the next call works.
    result = run_hooked("""
        try:
            tamsel_codec.columnarize(HOOK("result-null", "[]"))
        except Exception as e:
            print(type(e).__name__, e.args)
        print(tamsel_codec.columnarize(b"[]"))
    """)
    assert _assert_ok(result) == [
        "MemoryError ()",
        """b'{"columns":[],"rows":[],"constants":{}}'""",
    ]
    assert "internal fault" not in result.stderr


def test_fault_exception_type_is_made_once(run_hooked):
    result = run_hooked('''
        import threading
        start = threading.Barrier(8)
        types = []
        def make():
            start.wait()
            try:
                tamsel_codec.columnarize(HOOK("body", "x"))
            except BaseException as e:
                types.append(type(e))
        threads = [threading.Thread(target=make) for _ in range(8)]
        for t in threads: t.start()
        for t in threads: t.join()
        try:
            tamsel_codec.columnarize(HOOK("body", "y"))
        except BaseException as e:
            types.append(type(e))
        print(len(types), len({id(t) for t in types}), issubclass(types[0], Exception))
        print(repr(types[0].__doc__))
    ''')
    lines = _assert_ok(result)
    assert lines[0] == "9 1 False"
    assert lines[1] == repr(
        "\nThe exception raised when Rust code called from Python panics.\n\n"
        "Like SystemExit, this exception is derived from BaseException so that\n"
        "it will typically propagate all the way through the stack and cause the\n"
        "Python interpreter to exit.\n"
    )


def test_fault_exception_fetched_back_resumes_the_fault(run_hooked):
    result = run_hooked('''
        try:
            tamsel_codec.columnarize(HOOK("body", "first"))
        except BaseException as e:
            Panic = type(e)
        class Index:
            def __index__(self):
                raise Panic("from python")
        try:
            tamsel_codec.columnarize(b"[]", Index())
        except BaseException as e:
            print(type(e) is Panic, repr(e.args), hasattr(e, "__notes__"))
    ''')
    assert _assert_ok(result) == ["True ('from python',) False"]
    assert (
        "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
        "Python stack trace below:\n"
    ) in result.stderr
    assert "in __index__" in result.stderr  # printed with its traceback


def test_fault_while_raising_aborts(run_hooked):
    result = run_hooked('''
        tamsel_codec.columnarize(HOOK("raise"))
        print("not reached")
    ''')
    assert result.returncode < 0
    assert "not reached" not in result.stdout
    assert result.stderr.endswith("uncaught panic at ffi boundary\n")
