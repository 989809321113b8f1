"""Checks an installed wheel as a user meets it, from a folder outside the source tree.

    python -I check_installed.py

Run by the interpreter of the environment the wheel was installed into, with tqdm, pyarrow and
zstandard beside it; -I keeps the current folder and PYTHONPATH out of the import path. Checks
that tessary is imported from that environment; that a small write of every format and
compression gives back the entities of generate_entities; that pyarrow builds a table holding
them; and that the package's native libraries, as ldd resolves them, need nothing from the system
beyond what the manylinux policy allows. Prints one line per failure and a closing count of the
checks, and exits 0 only when every check passed.
"""

from __future__ import annotations

import json
import re
import subprocess
import sys
import tempfile
from pathlib import Path
from typing import Any

import pyarrow
import pyarrow.parquet

import tessary

# The Python tests' helpers, after the installed packages: tessary itself must not come from here.
sys.path.append(str(Path(__file__).resolve().parents[1] / "python"))
from helpers import FIVE_SPECS, decompress  # noqa: E402

SEED = 20240917
SCALE = 1000

# The libraries a manylinux wheel may take from the system (the policy's allowed list), and the
# loader and the kernel's vDSO, which ldd lists as well.
ALLOWED_SYSTEM_LIBRARIES = re.compile(
    r"(libc\.so\.6|libm\.so\.6|libpthread\.so\.0|libdl\.so\.2|librt\.so\.1|libresolv\.so\.2"
    r"|libutil\.so\.1|libstdc\+\+\.so\.6|libgcc_s\.so\.1|libz\.so\.1"
    r"|ld-linux[\w.-]*\.so\.\d|linux-(vdso|gate)\.so\.1)"
)

# One ldd line: "name => path (address)", "name => not found", or "path (address)".
LDD_LINE = re.compile(
    r"^\s*(?P<name>\S+)(?:\s+=>\s+(?P<path>not found|\S*))?(?:\s+\(0x[0-9a-f]+\))?$"
)

Entities = list[dict[str, Any]]


def check_imported_from_environment() -> list[str]:
    package = Path(tessary.__file__).resolve()
    if Path(sys.prefix).resolve() not in package.parents:
        return [f"tessary is imported from {package}, not from the environment at {sys.prefix}"]
    return []


def check_writes(folder: Path, expected: Entities) -> list[str]:
    """A small write of every format and compression, read back."""
    failures = []
    for format in ("json", "jsonl"):
        for compression in (None, "gzip", "zstd"):
            path = folder / f"entities.{format}.{compression or 'plain'}"
            result = tessary.write(
                path, SEED, SCALE, FIVE_SPECS, format=format, compression=compression
            )
            text = decompress(path.read_bytes(), compression).decode("utf-8")
            entities = (
                json.loads(text)
                if format == "json"
                else [json.loads(line) for line in text.splitlines()]
            )
            if result.entities != SCALE or entities != expected:
                failures.append(f"write {format} {compression}: the file does not read back")
    path = folder / "entities.parquet"
    tessary.write(path, SEED, SCALE, FIVE_SPECS)
    if pyarrow.parquet.read_table(path).to_pylist() != expected:
        failures.append("write parquet: the file does not read back")
    return failures


def check_arrow_table(expected: Entities) -> list[str]:
    # pyarrow.table() reads any object with the Arrow C stream interface, a Table among them.
    table = pyarrow.table(tessary.Table(SEED, SCALE, FIVE_SPECS))
    if table.to_pylist() != expected:
        return ["pyarrow table: its rows are not the entities"]
    return []


def check_native_libraries() -> list[str]:
    """The package's shared objects and those the repair bundled beside it, as ldd resolves
    them: each needed library is one of these, or one the policy lets come from the system."""
    package = Path(tessary.__file__).resolve().parent
    folders = (package, package.parent / "tessary.libs")
    libraries = sorted(
        path for folder in folders if folder.is_dir() for path in folder.glob("*.so*")
    )
    names = {path.name.split(".")[0] for path in libraries}
    failures = [
        f"no {name} among the installed libraries"
        for name in ("_core", "_engine", "libtessary")
        if name not in names
    ]
    for library in libraries:
        listing = subprocess.run(["ldd", library], capture_output=True, text=True, check=True)
        for line in listing.stdout.splitlines():
            match = LDD_LINE.match(line)
            if match is None:
                failures.append(f"{library.name}: unexpected ldd line {line.strip()!r}")
                continue
            name, path = match["name"], match["path"]
            if path == "not found":
                failures.append(f"{library.name}: {name} not found")
            elif path and Path(path).resolve().parent in folders:
                continue  # installed by the wheel
            elif not ALLOWED_SYSTEM_LIBRARIES.fullmatch(Path(name).name):
                failures.append(f"{library.name}: {name} comes from the system ({path or name})")
    return failures


def main() -> int:
    expected = json.loads(tessary.generate_entities(SEED, SCALE, FIVE_SPECS))
    with tempfile.TemporaryDirectory() as folder:
        checks = [
            check_imported_from_environment(),
            check_writes(Path(folder), expected),
            check_arrow_table(expected),
            check_native_libraries(),
        ]
    for failure in (failure for check in checks for failure in check):
        print(failure)
    failed = sum(1 for check in checks if check)
    print(f"installed wheel: {len(checks) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
