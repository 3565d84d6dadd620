import ctypes
import inspect
import sys
import types

import pytest

import tamsel_codec
from conftest import free_threaded_only, run_python

EM_DASH = "\u2014"
DOC_BODY = f"""Columnarize a row-oriented JSON payload (bytes or str), GIL released
for the duration of the transform.

Args:
    payload: UTF-8 JSON bytes/str encoding a `list[dict]` of rows.
    min_rows: Accepted for parity with the Python codec's signature;
        not re-checked here (the Python caller already applied the
        guard before calling this function).

Returns:
    UTF-8 JSON bytes encoding `{{"columns", "rows", "constants"}}`.

Panic safety: `columnarize_json` is run inside `catch_unwind` so an
unexpected panic (e.g. an unforeseen indexing bug) surfaces as an
ordinary `PyRuntimeError` instead of PyO3's `PanicException`.
`PanicException` derives from `BaseException`, not `Exception` {EM_DASH} it
would silently bypass `columnar`'s `except Exception:` guard and
break the "a broken codec must never break a tool call" contract
(code-review fix). This does NOT protect against a stack overflow,
which aborts the process unconditionally in Rust and cannot be caught
by any mechanism {EM_DASH} a residual, documented limitation."""


def test_module_attributes():
    assert tamsel_codec.__all__ == ["columnarize"]
    assert tamsel_codec.__doc__ == ""
    assert sorted(k for k in vars(tamsel_codec) if not k.startswith("__")) == ["columnarize"]
    namespace = {}
    exec("from tamsel_codec import *", namespace)
    assert sorted(k for k in namespace if k != "__builtins__") == ["columnarize"]


def test_function_identity_and_documentation():
    f = tamsel_codec.columnarize
    assert isinstance(f, types.BuiltinFunctionType)
    assert (f.__name__, f.__module__) == ("columnarize", "tamsel_codec")
    assert f.__self__ is tamsel_codec
    assert str(inspect.signature(f)) == "(payload, min_rows=20)"
    assert f.__text_signature__ == "(payload, min_rows=20)"
    assert f.__doc__ == DOC_BODY
    assert len(("columnarize(payload, min_rows=20)\n--\n\n" + f.__doc__).split("\n")) == 24


@free_threaded_only
def test_import_keeps_the_interpreter_lock_off():
    result = run_python("""
        import sys, tamsel_codec
        print(sys._is_gil_enabled())
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "False"
    assert result.stderr == ""


class _Slot(ctypes.Structure):
    _fields_ = [("slot", ctypes.c_int), ("value", ctypes.c_void_p)]


def _module_def():
    get_def = ctypes.pythonapi.PyModule_GetDef
    get_def.restype, get_def.argtypes = ctypes.c_void_p, [ctypes.py_object]
    return get_def(tamsel_codec)


def _def_fields():
    """m_name, m_doc, m_size, m_methods, m_slots of the module definition."""
    base = object.__basicsize__ + 3 * ctypes.sizeof(ctypes.c_void_p)  # PyModuleDef_Base
    names = (ctypes.c_char_p * 2).from_address(_module_def() + base)
    size, methods, slots = (ctypes.c_ssize_t * 3).from_address(_module_def() + base + 16)
    return names[0], names[1], size, methods, slots


def test_module_definition_layout():
    name, doc, size, methods, slots_address = _def_fields()
    assert (name, doc, size, methods) == (b"tamsel_codec", b"", 0, 0)
    if sys.version_info < (3, 13):  # no Py_mod_gil slot before 3.13
        slots = (_Slot * 2).from_address(slots_address)
        assert [s.slot for s in slots] == [2, 0]  # Py_mod_exec, end
        return
    slots = (_Slot * 3).from_address(slots_address)
    assert [s.slot for s in slots] == [2, 4, 0]  # Py_mod_exec, Py_mod_gil, end
    assert slots[1].value == 1 and slots[2].value is None  # Py_MOD_GIL_NOT_USED


def _exec_def(module):
    run = ctypes.pythonapi.PyModule_ExecDef
    run.restype, run.argtypes = ctypes.c_int, [ctypes.py_object, ctypes.c_void_p]
    return run(module, _module_def())


@pytest.fixture
def fresh_module():
    module = types.ModuleType("pkg.tamsel_codec")
    module.__all__ = ["other"]
    return module


def test_execution_step_runs_again_on_the_same_module():
    module = types.ModuleType("tamsel_codec")
    assert _exec_def(module) == 0
    first = module.columnarize
    assert module.__all__ == ["columnarize"]
    assert _exec_def(module) == 0
    assert module.__all__ == ["columnarize", "columnarize"]
    assert module.columnarize is not first
    assert module.columnarize(b"[]") == first(b"[]")


def test_execution_step_names_the_module_it_runs_on(fresh_module):
    assert _exec_def(fresh_module) == 0
    assert fresh_module.__all__ == ["other", "columnarize"]
    assert fresh_module.columnarize.__module__ == "pkg.tamsel_codec"
    assert fresh_module.columnarize.__self__ is fresh_module


def test_execution_step_accepts_a_list_subclass(fresh_module):
    class Names(list):
        pass

    fresh_module.__all__ = Names(["x"])
    assert _exec_def(fresh_module) == 0
    assert type(fresh_module.__all__) is Names
    assert fresh_module.__all__ == ["x", "columnarize"]


def test_execution_step_rejects_a_tuple_all(fresh_module):
    assert _exec_def(fresh_module) == 0
    earlier = fresh_module.columnarize
    fresh_module.__all__ = ("columnarize",)
    with pytest.raises(TypeError) as caught:
        _exec_def(fresh_module)
    assert str(caught.value) == "'tuple' object is not an instance of 'list'"
    assert fresh_module.__all__ == ("columnarize",)
    assert fresh_module.columnarize is earlier


def test_execution_step_passes_other_lookup_errors_through():
    class Strict(types.ModuleType):
        def __getattr__(self, name):
            raise KeyError(name)

    with pytest.raises(KeyError, match="__all__"):
        _exec_def(Strict("strict"))


def test_execution_step_rejects_an_object_that_is_not_a_module():
    # Only reachable by calling the exec slot directly.
    slots_address = _def_fields()[4]
    exec_slot = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object)(_Slot.from_address(slots_address).value)
    with pytest.raises(TypeError) as caught:
        exec_slot(42)
    assert str(caught.value) == "'int' object is not an instance of 'module'"
