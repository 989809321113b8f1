"""Tessary: reproducible synthetic entities by seeded Monte Carlo sampling.

``generate_entities(seed, scale, specs_json)`` returns a JSON text holding ``scale`` entity
objects, each with an ``id`` and one member per attribute spec; the same arguments give the same
text on any number of threads. ``write`` streams any id range of them to a file or a file object,
as JSON or JSON Lines (optionally compressed) or Parquet; ``iter_text`` yields the same bytes in
chunks; ``generate_batches`` hands them over as Arrow record batches.
``make_seed()`` draws a fresh seed from the operating system.

``STREAM_VERSION`` numbers the stream contract (docs/stability.md): the same arguments give the same
bytes for as long as it stays the same, and any change of a single output byte raises it.
"""

from typing import Any, Final

from tessary._core import generate_entities, make_seed
from tessary.checking import SpecProblem, check_specs
from tessary.columns import generate_batches
from tessary.writing import WriteResult, iter_text, write

# The version of the byte streams: the same seed, scale, specs and format give the same bytes in
# every release that has the same stream version (docs/stability.md).
STREAM_VERSION: Final = 1

__all__ = [
    "PanicException",
    "SpecProblem",
    "STREAM_VERSION",
    "WriteResult",
    "check_specs",
    "generate_batches",
    "generate_entities",
    "iter_text",
    "make_seed",
    "write",
]


def __getattr__(name: str) -> Any:
    # The exception type is created on first use, as both extension modules raise it: looking it
    # up here is such a use.
    if name == "PanicException":
        from tessary import _engine

        return _engine.panic_exception()
    raise AttributeError(f"module 'tessary' has no attribute {name!r}")
