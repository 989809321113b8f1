"""Stream vectors: check that this installation generates the published bytes.

    python -m tessary.vectors [VECTORS.json]

Regenerates every case of the vectors file (by default the one shipped in the package, for
``tessary.STREAM_VERSION``) and compares the SHA-256 of its JSON text and its first entities. Prints
one line, ``stream version V: N passed, N failed``, preceded by one line per case that differs, and
exits 0 only when every case matches. Useful on a platform the project does not test.

A case's JSON text is the array of the entities with ids ``start`` to ``stop - 1``: "[", the entity
objects joined by ",", "]", as a ``Table`` writes it; for ``start`` 0 it is also
``generate_entities(seed, stop, specs)``, unless the case is of the package's language
(``"language": "package"``: it uses a kind or member that only the package reads).
"""

from __future__ import annotations

import hashlib
import json
import sys
from importlib import resources
from pathlib import Path
from typing import Any

import tessary

VECTORS_PATH = Path(str(resources.files("tessary") / "data" / "stream_vectors.json"))


def load(path: Path | str = VECTORS_PATH) -> dict[str, Any]:
    with open(path, encoding="utf-8") as file:
        vectors: dict[str, Any] = json.load(file)
    return vectors


def range_text(seed: int, start: int, stop: int, specs: str, *, package: bool = False) -> str:
    """The JSON text of the entities with ids start .. stop - 1 under seed, by generate_entities
    where it reads the document (start 0, not of the package's language), else by a Table."""
    if start == 0 and not package:
        return tessary.generate_entities(seed, stop, specs)
    return tessary.Table(seed, stop, specs, start=start).text("json")


def split_entities(array_text: str) -> list[str]:
    """The texts of the elements of a JSON array of objects, byte for byte as they stand."""
    entities: list[str] = []
    depth = 0
    in_string = escaped = False
    begin = 0
    for position, char in enumerate(array_text):
        if in_string:
            if escaped:
                escaped = False
            elif char == "\\":
                escaped = True
            elif char == '"':
                in_string = False
        elif char == '"':
            in_string = True
        elif char in "[{":
            depth += 1
            if depth == 2:
                begin = position
        elif char in "]}":
            depth -= 1
            if depth == 1:
                entities.append(array_text[begin : position + 1])
    return entities


def difference(case: dict[str, Any]) -> str | None:
    """What differs between the case and this installation's text, or None when nothing does."""
    try:
        text = range_text(case["seed"], case["start"], case["stop"], case["specs"],
                          package=case.get("language") == "package")
    except BaseException as error:  # noqa: BLE001 - a panic is a difference like any other
        if isinstance(error, KeyboardInterrupt):
            raise
        return f"{type(error).__name__}: {error}"
    shown = split_entities(text)[: len(case["first"])]
    for offset, expected in enumerate(case["first"]):
        got = shown[offset] if offset < len(shown) else "missing"
        if got != expected:
            return f"entity {case['start'] + offset} is {got}, expected {expected}"
    digest = hashlib.sha256(text.encode("utf-8")).hexdigest()
    if digest != case["sha256"]:
        return f"the text's SHA-256 is {digest}, expected {case['sha256']}"
    return None


def main(argv: list[str] | None = None) -> int:
    args = sys.argv[1:] if argv is None else argv
    if len(args) > 1 or (args and args[0].startswith("-")):
        print("usage: python -m tessary.vectors [VECTORS.json]", file=sys.stderr)
        return 2
    path = Path(args[0]) if args else VECTORS_PATH
    try:
        vectors = load(path)
    except (OSError, ValueError) as error:
        print(f"tessary.vectors: cannot read {path}: {error}", file=sys.stderr)
        return 2
    version = vectors.get("stream_version")
    if version != tessary.STREAM_VERSION:
        print(
            f"{path}: vectors of stream version {version}, "
            f"this is version {tessary.STREAM_VERSION}"
        )
        return 1
    failed = 0
    cases = vectors.get("cases", [])
    for case in cases:
        problem = difference(case)
        if problem is not None:
            failed += 1
            print(f"FAILED {case['name']}: {problem}")
    print(f"stream version {version}: {len(cases) - failed} passed, {failed} failed")
    return 0 if failed == 0 and cases else 1


if __name__ == "__main__":
    sys.exit(main())
