"""The columnar transform in Python on msgspec, the fastest JSON library
with a free-threaded wheel: msgspec decodes, the Python transform of
python_baseline.py rearranges the decoded rows, msgspec encodes.

msgspec is not a dependency of the module; the bench needs it installed
(python3.14t -m pip install msgspec).
"""

import msgspec

from python_baseline import columnar_document

decode = msgspec.json.decode
_encode = msgspec.json.encode


def columnarize(payload: bytes) -> bytes:
    return _encode(columnar_document(decode(payload)))
