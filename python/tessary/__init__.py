"""Tessary: reproducible synthetic entities by seeded Monte Carlo sampling.

``generate_entities(seed, scale, specs_json)`` returns a JSON text holding ``scale`` entity
objects, each with an ``id`` and one member per attribute spec; the same arguments give the same
text on any number of threads. ``make_seed()`` draws a fresh seed from the operating system.

``STREAM_VERSION`` numbers the stream contract (docs/stability.md): the same arguments give the same
bytes for as long as it stays the same, and any change of a single output byte raises it.
"""

from typing import Final

from tessary._core import generate_entities, make_seed

STREAM_VERSION: Final = 1

__all__ = ["STREAM_VERSION", "generate_entities", "make_seed"]
