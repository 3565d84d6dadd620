"""Columnarizes a JSON file with tamsel_codec and prints the result.

    python examples/columnarize_file.py [FILE]   (default: examples/sample.json)
"""
import pathlib
import sys

import tamsel_codec

path = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).with_name("sample.json"))
print(tamsel_codec.columnarize(path.read_bytes()).decode())
