import os
import pathlib
import subprocess
import sys
import textwrap

import pytest


def _module_dir(variable):
    """The directory of the one module built under the directory that the
    environment `variable` names, or None when it is unset."""
    root = os.environ.get(variable)
    if not root:
        return None
    found = sorted(pathlib.Path(root).rglob("tamsel_codec*.so"))
    if len(found) != 1:
        pytest.fail(f"expected one tamsel_codec*.so under {root}, found {found}")
    return found[0].parent


def _built_module_fixture(name, variable, what, script):
    """A fixture giving the directory of a test-only build of the module, or
    skipping with how to make one."""

    @pytest.fixture(scope="session", name=name)
    def fixture():
        directory = _module_dir(variable)
        if directory is None:
            pytest.skip(
                f"{variable} is unset: build the {what} module with "
                f"tests/python/{script} DIR and set it to DIR"
            )
        return directory

    return fixture


hook_dir = _built_module_fixture("hook_dir", "TAMSEL_FAULT_HOOK_BUILD", "fault-hook", "build_fault_hook_module.sh")
alloc_failure_dir = _built_module_fixture(
    "alloc_failure_dir", "TAMSEL_ALLOC_FAIL_BUILD", "allocation-failure", "build_alloc_failure_module.sh"
)


def run_python(code, module_dir=None, timeout=120):
    """Runs `code` in a fresh interpreter; with `module_dir`, that directory's
    tamsel_codec comes first on the path."""
    prelude = ""
    if module_dir is not None:
        prelude = f"import sys\nsys.path.insert(0, {str(module_dir)!r})\n"
    return subprocess.run(
        [sys.executable, "-c", prelude + textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=timeout,
    )


@pytest.fixture
def run_hooked(hook_dir):
    """Runs code against the fault-hook module; HOOK(name, text) builds the
    payload that selects a hook."""

    def run(code):
        prelude = textwrap.dedent("""
            import tamsel_codec
            assert tamsel_codec.__file__.startswith(sys.path[0]), tamsel_codec.__file__
            def HOOK(name, text=None):
                tail = name if text is None else name + ":" + text
                return b"\\0tamsel-fault-hook:" + tail.encode()
        """)
        return run_python(prelude + textwrap.dedent(code), module_dir=hook_dir)

    return run
