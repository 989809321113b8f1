"""Tessary: reproducible synthetic entities by seeded Monte Carlo sampling.

``generate_entities(seed, scale, specs_json)`` returns a JSON text holding ``scale`` entity
objects, each with an ``id`` and one member per attribute spec; the same arguments give the same
text on any number of threads. ``make_seed()`` draws a fresh seed from the operating system.
"""

from tessary._core import generate_entities, make_seed

__all__ = ["generate_entities", "make_seed"]
