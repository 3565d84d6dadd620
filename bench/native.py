"""Builds and loads the native yardsticks (bench/yardsticks, a shared
library loaded with ctypes) so that they run in the driver's own process."""

import ctypes
import subprocess
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD_DIR = ROOT / "build" / "bench-native"
LIBRARY = BUILD_DIR / "bench" / "libtamsel_yardsticks.so"

# Name in the results -> exported function.
YARDSTICKS = {
    "native": "bench_native_columnarize",
    "rapidjson": "bench_rapidjson_columnarize",
    "simdjson": "bench_simdjson_parse",
    "memcpy": "bench_memcpy",
}


def build():
    """Configures (once) and builds the yardsticks and the native probe; a no-op when current."""
    if not (BUILD_DIR / "CMakeCache.txt").exists():
        subprocess.run(["cmake", "-S", ROOT, "-B", BUILD_DIR, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                        "-DTAMSEL_BUILD_BENCH=ON", "-DTAMSEL_BUILD_CLI=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD_DIR, "-j", "2", "--target", "tamsel_yardsticks", "time_transform"],
                   check=True, stdout=subprocess.DEVNULL)


class Yardsticks:
    def __init__(self, path=LIBRARY):
        self._lib = ctypes.CDLL(str(path))
        self._timers = {}
        for name, symbol in YARDSTICKS.items():
            fn = getattr(self._lib, symbol)
            fn.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_int]
            fn.restype = ctypes.c_double
            self._timers[name] = fn
        self._output = self._lib.bench_rapidjson_output
        self._output.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p, ctypes.c_size_t]
        self._output.restype = ctypes.c_longlong

    def timer(self, name):
        """A function (payload, calls) -> seconds spent in `calls` runs, timed natively."""
        fn = self._timers[name]

        def run(payload, calls):
            seconds = fn(payload, len(payload), calls)
            if seconds < 0:
                raise RuntimeError(f"{name} rejected the payload")
            return seconds

        return run

    def rapidjson_output(self, payload):
        size = self._output(payload, len(payload), None, 0)
        if size < 0:
            raise RuntimeError("rapidjson rejected the payload")
        out = ctypes.create_string_buffer(size)
        self._output(payload, len(payload), out, size)
        return out.raw
