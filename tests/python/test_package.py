"""The installed distribution: its metadata, and the types a checker sees."""
import ast
import importlib.metadata
import pathlib
import subprocess
import sys
import sysconfig

import pytest

import tamsel_codec


def _stub_path():
    return pathlib.Path(tamsel_codec.__file__).with_name("tamsel_codec-stubs") / "__init__.pyi"


def test_module_is_the_installed_one():
    installed = {pathlib.Path(sysconfig.get_paths()[key]).resolve() for key in ("purelib", "platlib")}
    assert pathlib.Path(tamsel_codec.__file__).resolve().parent in installed


def test_metadata():
    meta = importlib.metadata.metadata("tamsel_codec")
    assert importlib.metadata.version("tamsel_codec") == meta["Version"] != ""
    assert meta["Summary"] and meta["License-Expression"] == "MIT"
    assert "# tamsel_codec" in meta["Description"]
    classifiers = set(meta.get_all("Classifier"))
    this_python = f"Programming Language :: Python :: {sys.version_info[0]}.{sys.version_info[1]}"
    assert this_python in classifiers
    assert any(c.startswith("Programming Language :: Python :: Free Threading ::") for c in classifiers)
    assert meta["Requires-Python"] == ">=3.11"
    # The version comes from the metadata only: the module gains no attribute.
    assert not hasattr(tamsel_codec, "__version__")


def test_stub_matches_the_module():
    tree = ast.parse(_stub_path().read_text(encoding="utf-8"))
    [function] = [node for node in tree.body if isinstance(node, ast.FunctionDef)]
    assert function.name == "columnarize"
    assert ast.unparse(function.args) == "payload: bytes, min_rows: int=20"
    assert ast.unparse(function.returns) == "bytes"
    assert ast.get_docstring(function, clean=True) == tamsel_codec.columnarize.__doc__


CALLERS = {
    "good.py": """
        from tamsel_codec import columnarize

        def send(records: bytes) -> bytes:
            return columnarize(records, min_rows=5)
    """,
    "bad.py": """
        from tamsel_codec import columnarize

        def send(records: str) -> bytes:
            return columnarize(records)
    """,
}


def test_strict_type_check_of_callers(tmp_path):
    pytest.importorskip("mypy", reason="mypy is not installed (pip install mypy)")
    for name, code in CALLERS.items():
        (tmp_path / name).write_text(code.replace("\n        ", "\n"))
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", *CALLERS],
        cwd=tmp_path, capture_output=True, text=True, timeout=300,
    )
    errors = [line for line in result.stdout.splitlines() if ": error:" in line]
    assert len(errors) == 1, result.stdout + result.stderr
    assert errors[0].startswith("bad.py:5: error: Argument 1 to \"columnarize\" has incompatible type \"str\"")
