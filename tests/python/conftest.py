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


def pytest_configure(config):
    # A plain run lists every skip with its reason in the summary.
    if "s" not in config.option.reportchars and "a" not in config.option.reportchars:
        config.option.reportchars += "s"


def _required_here(variable):
    """Whether a missing build fails the run instead of skipping: in CI
    (CI=true), or with `variable`=1; `variable`=0 leaves it out on purpose."""
    require = os.environ.get(variable)
    return require == "1" or (require != "0" and os.environ.get("CI") == "true")


def _built_module_fixture(name, variable, what, script, require_variable=None):
    """A fixture giving the directory of a test-only build of the module, or
    skipping with how to make one (failing instead where it is required)."""

    @pytest.fixture(scope="session", name=name)
    def fixture():
        directory = _module_dir(variable)
        if directory is None:
            why = (
                f"{variable} is unset: build the {what} module with "
                f"tests/python/{script} DIR and set it to DIR"
            )
            if require_variable and _required_here(require_variable):
                pytest.fail(why)
            pytest.skip(why)
        return directory

    return fixture


# Every test run of CI builds the fault-hook module; the allocation-failure
# build has a CI step of its own (scripts/ci/alloc_failure.sh).
hook_dir = _built_module_fixture(
    "hook_dir", "TAMSEL_FAULT_HOOK_BUILD", "fault-hook", "build_fault_hook_module.sh",
    require_variable="TAMSEL_REQUIRE_FAULT_HOOKS",
)
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
