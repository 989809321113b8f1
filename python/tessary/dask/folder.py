"""The data set folder: its intent and manifest documents, and the files that belong to it."""

from __future__ import annotations

import hashlib
import json
import re
import uuid
from dataclasses import dataclass
from typing import Any

from fsspec.implementations.local import LocalFileSystem  # type: ignore[import-untyped]

import tessary
from tessary import _engine
from tessary.dask.planning import part_name
from tessary.files import write_to_path
from tessary.results import DIGESTS, WriteResult

INTENT = "_tessary.json"
MANIFEST = "_manifest.json"

# A manifest without a "digest" member was written before XXH3-128 could be chosen.
MANIFEST_DEFAULT_DIGEST = "sha256"

PART_NAME = re.compile(r"part-\d{20}-\d{20}")


@dataclass(frozen=True)
class Problem:
    """One thing wrong with a data set: the file it concerns and what is wrong with it."""

    name: str
    message: str

    def __str__(self) -> str:
        return f"{self.name}: {self.message}"


def _is_u64(value: Any) -> bool:
    return type(value) is int and 0 <= value < 1 << 64


def malformation(document: dict[str, Any], manifest: bool) -> str | None:
    """What makes an intent file (or, with manifest, a manifest) unusable, or None: every field
    that verify and write read, of the type and in the range they write it."""
    if not _is_u64(document.get("seed")):
        return "seed is not an integer from 0 to 2**64 - 1"
    scale = document.get("scale")
    if not _is_u64(scale):
        return "scale is not an integer from 0 to 2**64 - 1"
    if not isinstance(document.get("specs"), str):
        return "specs is not a text"
    format, compression = document.get("format"), document.get("compression")
    if not isinstance(format, str) or not isinstance(compression, str | None):
        return "format is not a text, or compression neither null nor a text"
    try:
        _engine.output_options(None, format, compression, None)
    except ValueError as error:
        return str(error)
    partitions = document.get("partitions")
    if not isinstance(partitions, list) or not all(
        isinstance(bounds, list) and len(bounds) == 2 and all(map(_is_u64, bounds))
        for bounds in partitions
    ):
        return "partitions is not a list of [start, stop] pairs of integers"
    ranges = [tuple(bounds) for bounds in partitions]
    starts = [0] + [stop for _, stop in ranges]
    if not ranges or [start for start, _ in ranges] != starts[:-1] or starts[-1] != scale or any(
        start > stop for start, stop in ranges
    ):
        return f"partitions do not cover the ids 0 to {scale} in order"
    dataset = document.get("dataset")
    if dataset is not None and not (
        isinstance(dataset, dict)
        and _is_u64(dataset.get("seed"))
        and isinstance(dataset.get("table"), str)
        and isinstance(dataset.get("document"), str)
    ):
        return "dataset is not an object of a seed, a table name and a document"
    if not manifest:
        return None
    algorithm = document.get("digest", MANIFEST_DEFAULT_DIGEST)
    if algorithm not in DIGESTS:
        return f"digest is not one of {', '.join(DIGESTS)}"
    parts = document.get("parts")
    if not isinstance(parts, list) or not all(isinstance(record, dict) for record in parts):
        return "parts is not a list of objects"
    for record in parts:
        start, stop = record.get("start"), record.get("stop")
        if not (_is_u64(start) and _is_u64(stop)) or (start, stop) not in ranges:
            return f"a part's range {start!r} to {stop!r} is not one of its partitions"
        if record.get("name") != part_name(start, stop, format, compression):
            return f"the part of ids {start} to {stop} is not named as its range says"
        if not _is_u64(record.get("bytes")) or not all(
            record.get(key) is None or isinstance(record.get(key), str)
            for key in (algorithm, f"text_{algorithm}")
        ):
            return f"the record of {record['name']} holds a size or digest of the wrong type"
    return None


def intent_of(
    table: tessary.Table, ranges: list[tuple[int, int]], format: str, compression: str | None
) -> dict[str, Any]:
    """The intent file of the folder of a whole table. "seed" is the seed the table's attributes
    are drawn under (a data set's table's own), so that a table without references is rebuilt
    from the seed, scale and specs alone; a data set's table also records the data set, which
    rebuilds its references."""
    intent: dict[str, Any] = {
        "tessary": tessary.__version__,
        "stream_version": tessary.STREAM_VERSION,
        "seed": table.table_seed,
        "scale": table.scale,
        "format": format,
        "compression": compression,
        "specs": table.specs_json,
        "specs_sha256": hashlib.sha256(table.specs_json.encode()).hexdigest(),
    }
    if table.dataset is not None:
        intent["dataset"] = {
            "seed": table.seed, "table": table.name, "document": table.dataset.document_json
        }
    intent["partitions"] = [[start, stop] for start, stop in ranges]
    return intent


def table_of(document: dict[str, Any]) -> tessary.Table:
    """The whole table whose parts a well-formed intent file (or manifest) describes. ValueError
    when it cannot be built, or its data set holds no such table."""
    dataset = document.get("dataset")
    if dataset is None:
        return tessary.Table(document["seed"], document["scale"], document["specs"])
    try:
        table = tessary.Dataset(dataset["seed"], dataset["document"])[dataset["table"]]
    except KeyError as error:
        raise ValueError(error.args[0]) from None
    if (table.table_seed, table.scale, table.specs_json) != (
        document["seed"], document["scale"], document["specs"]
    ):
        raise ValueError(
            f"the table {table.name!r} of its data set has another seed, scale or specs"
        )
    return table


def join(folder: str, name: str) -> str:
    return f"{folder.rstrip('/')}/{name}"


def listing(fs: Any, folder: str) -> dict[str, int]:
    """The files of the folder (names, not paths) and their sizes. FileNotFoundError when the
    folder is not there, NotADirectoryError when it is a file."""
    if fs.isfile(folder):
        raise NotADirectoryError(f"{folder} is a file, not a data set folder")
    return {
        entry["name"].rstrip("/").rsplit("/", 1)[-1]: entry["size"]
        for entry in fs.ls(folder, detail=True)
        if entry["type"] != "directory"
    }


def parameters(document: dict[str, Any]) -> dict[str, Any]:
    """What must be equal for two calls to write the same data set: all but the package version
    (the stream version says whether the bytes are the same) and the manifest's digest algorithm
    and records."""
    return {
        key: value for key, value in document.items() if key not in ("tessary", "digest", "parts")
    }


def read_document(
    fs: Any, folder: str, name: str, present: dict[str, int]
) -> tuple[dict[str, Any] | None, list[Problem]]:
    if name not in present:
        return None, []
    try:
        document = json.loads(fs.cat_file(join(folder, name)))
    except (OSError, ValueError) as error:
        return None, [Problem(name, f"cannot be read: {error}")]
    if not isinstance(document, dict):
        return None, [Problem(name, "is not a JSON object")]
    return document, []


def _is_ours(name: str) -> bool:
    """A part, the intent or the manifest."""
    return name in (INTENT, MANIFEST) or PART_NAME.match(name) is not None


def _is_temporary(name: str) -> bool:
    """A file being written under a temporary name, ".NAME.RANDOM.part", for one of ours."""
    return (
        name.startswith(".")
        and name.endswith(".part")
        and (
            PART_NAME.match(name[1:]) is not None
            or name[1:].startswith((INTENT + ".", MANIFEST + "."))
        )
    )


def remove_temporaries(fs: Any, folder: str, present: dict[str, int]) -> None:
    for name in present:
        if _is_temporary(name):
            fs.rm(join(folder, name))


def examine_folder(
    fs: Any, folder: str, intent: dict[str, Any], overwrite: bool
) -> tuple[dict[str, int], bool]:
    """The files of the folder, and whether it holds the intent file of this data set. Refuses a
    folder in the way (without overwrite) with ValueError, changing nothing."""
    try:
        present = listing(fs, folder)
    except FileNotFoundError:  # object stores have no empty folders
        present = {}
    existing, problems = read_document(fs, folder, INTENT, present)
    if problems and not overwrite:
        raise ValueError(
            f"{join(folder, INTENT)} {problems[0].message}: pass overwrite=True to replace it"
        )
    same = existing is not None and parameters(existing) == parameters(intent)
    if not same and not overwrite:
        if existing is not None:
            differing = sorted(
                key
                for key in parameters(intent) | parameters(existing)
                if existing.get(key) != intent.get(key)
            )
            raise ValueError(
                f"{folder} holds a data set written with other parameters "
                f"({', '.join(differing)}): pass overwrite=True to replace it"
            )
        if present:
            raise ValueError(
                f"{folder} is not empty and holds no data set: pass overwrite=True to write into it"
            )
    return present, same


def prepare_folder(
    fs: Any, folder: str, intent: dict[str, Any], overwrite: bool
) -> dict[str, dict[str, Any]]:
    """Makes the folder ready for the parts: refuses or clears what is in the way, writes the
    intent file and removes stale temporary files. Returns the records of an earlier manifest
    of the same data set, by part name."""
    fs.makedirs(folder, exist_ok=True)
    present, same = examine_folder(fs, folder, intent, overwrite)
    if same:
        manifest, _ = read_document(fs, folder, MANIFEST, present)
        remove_temporaries(fs, folder, present)
        if (
            manifest is None
            or parameters(manifest) != parameters(intent)
            or malformation(manifest, True) is not None
        ):
            return {}
        return {record["name"]: record for record in manifest.get("parts", [])}
    # The manifest goes first: from then on the folder never claims to be complete.
    for name in sorted(present, key=lambda name: name != MANIFEST):
        if _is_ours(name) or _is_temporary(name):
            fs.rm(join(folder, name))
    put_json(fs, join(folder, INTENT), intent)
    return {}


def put_json(fs: Any, path: str, document: dict[str, Any]) -> None:
    """Writes a JSON document whole or not at all: under a temporary name, then renamed (a local
    file flushed to the disk first, as the parts are)."""
    data = _dumps(document).encode()
    if isinstance(fs, LocalFileSystem):

        def write_all(fd: int) -> WriteResult:
            _engine.write_bytes(fd, data)
            return WriteResult(0, len(data), len(data))

        write_to_path(path, write_all)
        return
    folder, name = path.rsplit("/", 1)
    temporary = join(folder, f".{name}.{uuid.uuid4().hex}.part")
    fs.pipe_file(temporary, data)
    fs.mv(temporary, path)


def _dumps(document: dict[str, Any]) -> str:
    """JSON with one member per line, and one line per element of a list member."""
    members = []
    for key, value in document.items():
        if isinstance(value, list) and value:
            items = ",\n  ".join(json.dumps(item) for item in value)
            members.append(f" {json.dumps(key)}: [\n  {items}\n ]")
        else:
            members.append(f" {json.dumps(key)}: {json.dumps(value)}")
    return "{\n" + ",\n".join(members) + "\n}\n"
