import os
import pathlib
import subprocess
import sys
import sysconfig
import textwrap

import pytest


FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))

# For tests of what only a free-threaded interpreter has; elsewhere they are
# reported as skipped, with this reason.
free_threaded_only = pytest.mark.skipif(
    not FREE_THREADED, reason="only meaningful on a free-threaded interpreter (this one has the GIL)"
)


def _hook_module_dir():
    root = os.environ.get("TAMSEL_FAULT_HOOK_BUILD")
    if not root:
        return None
    found = sorted(pathlib.Path(root).rglob("tamsel_codec*.so"))
    if len(found) != 1:
        pytest.fail(f"expected one tamsel_codec*.so under {root}, found {found}")
    return found[0].parent


def pytest_configure(config):
    # A plain run lists every skip with its reason in the summary.
    if "s" not in config.option.reportchars and "a" not in config.option.reportchars:
        config.option.reportchars += "s"


@pytest.fixture(scope="session")
def hook_dir():
    directory = _hook_module_dir()
    if directory is None:
        why = (
            "TAMSEL_FAULT_HOOK_BUILD is unset: build the fault-hook module with "
            "tests/python/build_fault_hook_module.sh DIR and set it to DIR"
        )
        # In CI (CI=true, or TAMSEL_REQUIRE_FAULT_HOOKS=1) these tests must
        # run; TAMSEL_REQUIRE_FAULT_HOOKS=0 lets a run leave them out on purpose.
        require = os.environ.get("TAMSEL_REQUIRE_FAULT_HOOKS")
        if require == "1" or (require != "0" and os.environ.get("CI") == "true"):
            pytest.fail(why)
        pytest.skip(why)
    return directory


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
