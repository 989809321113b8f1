"""Checking a specs document before a long run, without generating anything."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Literal

from tessary import _engine

Severity = Literal["error", "may fail", "warning"]


@dataclass(frozen=True)
class SpecProblem:
    """One problem of a specs document.

    ``severity`` is ``"error"`` (the document does not parse, or a spec fails for every entity,
    with the message that generating raises), ``"may fail"`` (a spec fails for some entities) or
    ``"warning"`` (legal but likely a mistake). ``index`` and ``name`` say which spec (None for
    the reader's error); ``line`` and ``column`` (1-based) where its ``{`` is, or where the reader
    stopped.
    """

    severity: Severity
    message: str
    index: int | None
    name: str | None
    line: int
    column: int


def check_specs(specs_json: str) -> list[SpecProblem]:
    """The problems of a specs document in document order; an empty list when it is clean."""
    return [SpecProblem(*problem) for problem in _engine.check_specs(specs_json)]
