"""Partitioned data sets generated on Dask: one part file per contiguous id range.

Every entity owns its random stream, so any id range can be built on any worker, and the JSON
Lines parts of a data set, concatenated in name order, are byte for byte one ``tessary.write`` of
the whole range. The work runs on the current Dask scheduler: the local one by default, the
active ``distributed.Client`` when there is one.

A data set folder holds, in the order they are written:

- ``_tessary.json``, the intent: seed, scale, format, compression, the specs document and its
  SHA-256, the package and stream versions, and the id ranges of the parts;
- the parts, ``part-{start:020d}-{stop:020d}`` plus the format's suffix (names sort in id order),
  each written under a temporary name unique to the attempt and renamed when complete, so a part
  under its final name is whole;
- ``_manifest.json``, the intent plus the digest algorithm (``"digest"``: ``"sha256"``, the
  default, or ``"xxh128"``) and each part's byte count and the digest of its bytes and of its
  uncompressed text, under the algorithm's name (``"sha256"`` and ``"text_sha256"``, or
  ``"xxh128"`` and ``"text_xxh128"``): its presence says the data set is complete.

Writers must not share a folder: one call (with its retries) writes a data set at a time. On a
cluster of several machines a local path must be a filesystem that every worker sees.
"""

from __future__ import annotations

import contextlib
import hashlib
import io
import json
import operator
import os
import random
import re
import uuid
import zlib
from collections.abc import Buffer, Callable, Iterable, Iterator
from dataclasses import dataclass
from importlib.metadata import PackageNotFoundError, version
from typing import Any

try:
    import fsspec  # type: ignore[import-untyped]
    from dask.base import compute, get_scheduler
    from dask.delayed import delayed
    from fsspec.implementations.local import LocalFileSystem  # type: ignore[import-untyped]
except ImportError as error:
    raise ImportError(
        f"tessary.dask needs the optional dependencies ({error.name} is missing): "
        "pip install 'tessary[dask]'"
    ) from error

import tessary
from tessary import _engine
from tessary.writing import (
    COMPRESSION_SUFFIXES,
    COMPRESSIONS,
    DIGESTS,
    Progress,
    _progress_reporter,
    digest_algorithm,
)

__all__ = ["Problem", "WriteSummary", "dataframe", "plan_ranges", "verify", "write"]

INTENT = "_tessary.json"
MANIFEST = "_manifest.json"
FORMATS = ("json", "jsonl", "parquet")

# About this much uncompressed text per part by default: large enough that scheduling costs
# nothing beside the work, small enough that a lost part is cheap to redo.
PART_TEXT_BYTES = 128 * 10**6
# The default partitioning estimates the text per entity from this many entities at each of a
# few places spread over the range (ids grow longer towards the end).
SAMPLE_ENTITIES = 512
SAMPLE_WINDOWS = 3

# Attempts of a part after a failure of its own (a worker lost while running it is rescheduled
# by the scheduler without counting here). Safe: an attempt leaves nothing under the part's name
# until it is complete.
RETRIES = 2

CHUNK = 1 << 20

# A manifest without a "digest" member was written before XXH3-128 could be chosen.
MANIFEST_DEFAULT_DIGEST = "sha256"
DIGEST_TITLES = {"sha256": "SHA-256", "xxh128": "XXH3-128"}
PART_NAME = re.compile(r"part-\d{20}-\d{20}")


@dataclass(frozen=True)
class Problem:
    """One thing wrong with a data set: the file it concerns and what is wrong with it."""

    name: str
    message: str

    def __str__(self) -> str:
        return f"{self.name}: {self.message}"


@dataclass(frozen=True)
class WriteSummary:
    """What a call of :func:`write` did: the manifest's part records, in id order, and the names
    of the parts this call wrote (the others were there already)."""

    url: str
    parts: list[dict[str, Any]]
    written: list[str]


def part_name(start: int, stop: int, format: str, compression: str | None) -> str:
    """The file name of the part holding the ids start to stop - 1."""
    suffix = f".{format}"
    if compression is not None and format != "parquet":  # Parquet compresses inside the file
        suffix += next(s for s, c in COMPRESSION_SUFFIXES.items() if c == compression)
    return f"part-{start:020d}-{stop:020d}{suffix}"


def plan_ranges(
    seed: int,
    scale: int,
    specs_json: str,
    *,
    partitions: int | None = None,
    rows_per_partition: int | None = None,
) -> list[tuple[int, int]]:
    """The id ranges of the parts, in order, covering 0 to scale.

    ``partitions`` ranges whose sizes differ by at most one, or ranges of ``rows_per_partition``
    ids (the last one shorter), or by default ranges of about 128 MB of text each. The default
    depends only on the seed, the scale and the specs, never on the cluster. A scale of 0 has one
    empty range.
    """
    if partitions is not None and rows_per_partition is not None:
        raise ValueError("give partitions or rows_per_partition, not both")
    scale = operator.index(scale)
    if partitions is not None:
        partitions = operator.index(partitions)
        if not 1 <= partitions <= max(scale, 1):
            raise ValueError(
                f"partitions must be between 1 and the scale ({scale}), not {partitions}"
            )
        return [(i * scale // partitions, (i + 1) * scale // partitions) for i in range(partitions)]
    if rows_per_partition is None:
        rows_per_partition = default_rows_per_partition(seed, scale, specs_json)
    elif operator.index(rows_per_partition) < 1:
        raise ValueError(f"rows_per_partition must be at least 1, not {rows_per_partition}")
    if scale == 0:
        return [(0, 0)]
    return [
        (start, min(start + rows_per_partition, scale))
        for start in range(0, scale, rows_per_partition)
    ]


def default_rows_per_partition(seed: int, scale: int, specs_json: str) -> int:
    """The ids of about PART_TEXT_BYTES of JSON Lines text, from a sample of the range."""
    count = min(SAMPLE_ENTITIES, scale)
    if count == 0:
        return 1
    starts = sorted({w * (scale - count) // (SAMPLE_WINDOWS - 1) for w in range(SAMPLE_WINDOWS)})
    text = sum(
        len(chunk)
        for start in starts
        for chunk in tessary.iter_text(seed, scale, specs_json, start=start, stop=start + count)
    )
    return max(1, PART_TEXT_BYTES * count * len(starts) // max(text, 1))


def write(
    url: str,
    seed: int,
    scale: int,
    specs_json: str,
    *,
    format: str = "jsonl",
    compression: str | None = None,
    partitions: int | None = None,
    rows_per_partition: int | None = None,
    storage_options: dict[str, Any] | None = None,
    overwrite: bool = False,
    progress: Progress = False,
    digest: str = "sha256",
) -> WriteSummary:
    """Write the entities of ids 0 to scale - 1 as a data set folder at ``url`` (any fsspec URL).

    ``format`` is ``"jsonl"``, ``"json"`` (one array per part) or ``"parquet"``; ``compression``
    is ``"gzip"`` or ``"zstd"`` for the text formats (a suffix ``.gz``/``.zst`` on the parts),
    the codec for Parquet. ``partitions`` or ``rows_per_partition`` choose the id ranges (see
    :func:`plan_ranges`). ``storage_options`` go to fsspec.

    Over a folder whose intent file has the same parameters, only the missing parts are written
    (stale temporary files are removed), then the manifest. A folder with an intent file of other
    parameters, or with files but no data set, is refused with ValueError unless ``overwrite``,
    which removes the data set's files first. ``progress=True`` shows a bar of entities on
    standard error; a callable receives ``(done, total)``. ``digest`` is the manifest's digest
    algorithm: ``"sha256"`` (what ``sha256sum`` compares) or ``"xxh128"`` (XXH3-128, several
    times faster, against accidental corruption only); parts already there with digests of
    another algorithm are hashed again.
    """
    algorithm = digest_algorithm(digest)
    if algorithm is None:
        raise ValueError(
            f"a data set's manifest holds digests: digest is one of {', '.join(DIGESTS)}"
        )
    if format not in FORMATS:
        raise ValueError(f"unknown format {format!r}: the accepted ones are {', '.join(FORMATS)}")
    if format != "parquet" and compression is not None and compression not in COMPRESSIONS:
        raise ValueError(
            f"unknown compression {compression!r}: the accepted ones are {', '.join(COMPRESSIONS)}"
        )
    if not (isinstance(progress, bool) or callable(progress)):
        raise TypeError("progress must be True, False or a callable taking (done, total)")
    # Arguments, specs and the first entity are checked before anything is created.
    tessary.write(
        _Discard(),
        seed,
        scale,
        specs_json,
        format=format,
        compression=compression,
        stop=min(scale, 1),
    )
    ranges = plan_ranges(
        seed, scale, specs_json, partitions=partitions, rows_per_partition=rows_per_partition
    )
    intent = {
        "tessary": _package_version(),
        "stream_version": tessary.STREAM_VERSION,
        "seed": seed,
        "scale": scale,
        "format": format,
        "compression": compression,
        "specs": specs_json,
        "specs_sha256": hashlib.sha256(specs_json.encode()).hexdigest(),
        "partitions": [[start, stop] for start, stop in ranges],
    }
    fs, folder = fsspec.core.url_to_fs(url, **(storage_options or {}))
    known = _prepare_folder(fs, folder, intent, overwrite)
    present = _listing(fs, folder)

    records: dict[str, dict[str, Any]] = {}
    tasks, entities = [], []
    for start, stop in ranges:
        name = part_name(start, stop, format, compression)
        record = known.get(name)
        if (
            name in present
            and record is not None
            and record["bytes"] == present[name]
            and algorithm in record
        ):
            records[name] = record
            continue
        if name in present:  # complete (it has its final name) but not in a manifest yet
            task = delayed(_digest_part, pure=False)(
                fs, _join(folder, name), start, stop, format, compression, algorithm
            )
        else:
            task = delayed(_write_part, pure=False)(
                fs, folder, name, start, stop, seed, scale, specs_json, format, compression,
                algorithm,
            )
        tasks.append(task)
        entities.append(stop - start)
    written = []
    for record in _compute(tasks, entities, progress):
        if record.pop("written"):
            written.append(record["name"])
        records[record["name"]] = record

    _remove_temporaries(fs, folder, _listing(fs, folder))
    parts = [records[part_name(start, stop, format, compression)] for start, stop in ranges]
    _put_json(fs, _join(folder, MANIFEST), {**intent, "digest": algorithm, "parts": parts})
    return WriteSummary(url, parts, written)


def verify(
    url: str, *, regenerate: int = 0, storage_options: dict[str, Any] | None = None
) -> list[Problem]:
    """The problems of the data set at ``url``: an empty list when it is sound.

    Reads nothing but the folder and changes no file. Reports missing parts, extra files and parts
    whose size or digest (by the manifest's algorithm) differs from the manifest, each by name;
    with ``regenerate=k``, also
    regenerates k parts chosen at random from the intent file's parameters and compares the
    digest of their uncompressed text with the file's. The digests are computed on the workers.
    """
    if regenerate < 0:
        raise ValueError(f"regenerate must be at least 0, not {regenerate}")
    fs, folder = fsspec.core.url_to_fs(url, **(storage_options or {}))
    try:
        present = _listing(fs, folder)
    except FileNotFoundError:
        return [Problem(url, "no such folder")]
    except NotADirectoryError:
        return [Problem(url, "a file, not a data set folder")]
    document, records, problems = _expected_parts(fs, folder, present, url)
    if document is None:
        return problems

    for name in sorted(set(present) - {record["name"] for record in records} - {INTENT, MANIFEST}):
        problems.append(Problem(name, "extra file, not part of the data set"))
    checked = []
    for record in records:
        name = record["name"]
        if name not in present:
            problems.append(Problem(name, "missing"))
        elif "bytes" in record and present[name] != record["bytes"]:
            problems.append(
                Problem(name, f"holds {present[name]} bytes, the manifest says {record['bytes']}")
            )
        else:
            checked.append(record)

    regenerating: set[str] = set()
    if regenerate and checked:
        if document.get("stream_version") != tessary.STREAM_VERSION:
            problems.append(
                Problem(
                    INTENT, "written with another stream version: its parts cannot be regenerated"
                )
            )
        else:
            regenerating = {
                record["name"] for record in random.sample(checked, min(regenerate, len(checked)))
            }
    # Without a manifest there are no digests to compare, only regenerations.
    algorithm = document.get("digest", MANIFEST_DEFAULT_DIGEST)
    checked = [
        record for record in checked if algorithm in record or record["name"] in regenerating
    ]
    generate = (document["seed"], document["scale"], document["specs"])
    tasks = [
        delayed(_check_part, pure=False)(
            fs, _join(folder, record["name"]), record["start"], record["stop"], document["format"],
            document["compression"], algorithm,
            generate if record["name"] in regenerating else None,
        )
        for record in checked
    ]
    outcomes = _compute(tasks, [r["stop"] - r["start"] for r in checked], False)
    for record, outcome in zip(checked, outcomes, strict=True):
        name = record["name"]
        if outcome["error"] is not None:
            problems.append(Problem(name, outcome["error"]))
            continue
        if algorithm in record and outcome["digest"] != record[algorithm]:
            problems.append(
                Problem(name, f"its {DIGEST_TITLES[algorithm]} differs from the manifest's")
            )
        if outcome["regenerated"] is not None and outcome["regenerated"] != outcome["compared"]:
            problems.append(Problem(name, "its text differs from the same part regenerated"))
    return problems


def _expected_parts(
    fs: Any, folder: str, present: dict[str, int], url: str
) -> tuple[dict[str, Any] | None, list[dict[str, Any]], list[Problem]]:
    """The parameters of the data set in the folder, the records of its parts (from the manifest,
    else names and ranges from the intent file) and the problems of those two files. The
    parameters are None when there is nothing to check the parts against."""
    intent, problems = _read_document(fs, folder, INTENT, present)
    manifest, more = _read_document(fs, folder, MANIFEST, present)
    problems += more
    if intent is None and manifest is None:
        return (
            None,
            [],
            problems or [Problem(url, f"holds no data set (no {INTENT} and no {MANIFEST})")],
        )
    if MANIFEST not in present:
        problems.append(Problem(MANIFEST, "missing: the data set was not completely written"))
    elif (
        manifest is not None and intent is not None and _parameters(manifest) != _parameters(intent)
    ):
        problems.append(Problem(MANIFEST, f"its parameters differ from those of {INTENT}"))
    document = manifest if manifest is not None else intent
    assert document is not None
    name = MANIFEST if manifest is not None else INTENT
    try:
        if manifest is not None:
            records = [dict(record) for record in manifest["parts"]]
        else:
            records = [
                {
                    "name": part_name(start, stop, document["format"], document["compression"]),
                    "start": start,
                    "stop": stop,
                }
                for start, stop in document["partitions"]
            ]
        complete = all(
            key in document for key in ("seed", "scale", "specs", "format", "compression")
        )
        complete = complete and all(
            {"name", "start", "stop"} <= record.keys() for record in records
        )
        complete = complete and document.get("digest", MANIFEST_DEFAULT_DIGEST) in DIGESTS
    except (KeyError, TypeError, ValueError, AttributeError):
        complete = False
    if not complete:
        return None, [], problems + [Problem(name, "is not a data set document")]
    return document, records, problems


def dataframe(seed: int, scale: int, specs_json: str, *, partitions: int | None = None) -> Any:
    """A ``dask.dataframe`` of the entities of ids 0 to scale - 1, indexed by ``id`` with known
    divisions: one partition per id range (see :func:`plan_ranges`), built from the columnar
    batches where it is computed."""
    import dask.dataframe as dd

    ranges = plan_ranges(seed, scale, specs_json, partitions=partitions)
    meta = _range_frame((0, 0), seed, scale, specs_json)
    divisions = [start for start, _ in ranges] + [max(ranges[-1][1] - 1, ranges[-1][0])]
    return dd.from_map(  # type: ignore[no-untyped-call]
        _range_frame, ranges, args=(seed, scale, specs_json), meta=meta, divisions=divisions,
        label="tessary", enforce_metadata=False,
    )


def _range_frame(id_range: tuple[int, int], seed: int, scale: int, specs_json: str) -> Any:
    """The entities of one id range as a pandas frame indexed by id (the first column)."""
    import pyarrow as pa  # type: ignore[import-untyped]

    start, stop = id_range
    stream = tessary.generate_batches(seed, scale, specs_json, start=start, stop=stop)
    frame = pa.RecordBatchReader.from_stream(stream).read_all().to_pandas()
    ids = frame.iloc[:, 0].rename("id")
    frame = frame.iloc[:, 1:]
    frame.index = ids
    return frame


# What runs on the workers. Each returns a plain dict that travels back to the caller.


def _write_part(
    fs: Any, folder: str, name: str, start: int, stop: int, seed: int, scale: int, specs_json: str,
    format: str, compression: str | None, algorithm: str,
) -> dict[str, Any]:
    """Writes one part under a temporary name unique to this attempt and renames it when
    complete."""
    path = _join(folder, name)
    arguments: dict[str, Any] = {
        "format": format, "compression": compression, "start": start, "stop": stop,
        "digest": algorithm,
    }
    if isinstance(fs, LocalFileSystem):
        # A local path is written through a temporary file renamed over it on success.
        result = tessary.write(path, seed, scale, specs_json, **arguments)
    else:
        temporary = _join(folder, f".{name}.{uuid.uuid4().hex}.part")
        try:
            with fs.open(temporary, "wb") as file:
                result = tessary.write(file, seed, scale, specs_json, **arguments)
            fs.mv(temporary, path)
        except BaseException:
            # Never created, or the failure is the filesystem's: report the first error.
            with contextlib.suppress(Exception):
                fs.rm(temporary)
            raise
    text_digest = None if format == "parquet" else result.text_digest
    return _record(
        name, start, stop, result.bytes_written, algorithm, result.digest, text_digest
    ) | {"written": True}


def _digest_part(
    fs: Any, path: str, start: int, stop: int, format: str, compression: str | None,
    algorithm: str,
) -> dict[str, Any]:
    """The record of a part already there, from its bytes."""
    size, digest, text_digest = _file_digests(fs, path, format, compression, algorithm, text=True)
    return _record(
        path.rsplit("/", 1)[-1], start, stop, size, algorithm, digest, text_digest
    ) | {"written": False}


def _check_part(
    fs: Any, path: str, start: int, stop: int, format: str, compression: str | None,
    algorithm: str, generate: tuple[int, int, str] | None,
) -> dict[str, Any]:
    """The digest of a part's bytes and, when generate holds (seed, scale, specs), the digest
    of its text (its bytes for Parquet) beside that of the same range regenerated."""
    outcome: dict[str, Any] = {"error": None, "digest": None, "compared": None, "regenerated": None}
    try:
        _, outcome["digest"], text_digest = _file_digests(
            fs, path, format, compression, algorithm, text=generate is not None
        )
    except (OSError, EOFError, zlib.error, ValueError) as error:
        outcome["error"] = f"cannot be read: {error}"
        return outcome
    if generate is not None:
        seed, scale, specs_json = generate
        if format == "parquet":
            result = tessary.write(
                os.devnull, seed, scale, specs_json, format=format, compression=compression,
                start=start, stop=stop, digest=algorithm,
            )
            outcome["compared"], outcome["regenerated"] = outcome["digest"], result.digest
        else:
            result = tessary.write(
                os.devnull, seed, scale, specs_json, format=format, start=start, stop=stop,
                digest=algorithm,
            )
            outcome["compared"], outcome["regenerated"] = text_digest, result.text_digest
    return outcome


def _record(
    name: str, start: int, stop: int, size: int, algorithm: str, digest: str | None,
    text_digest: str | None,
) -> dict[str, Any]:
    """A part's manifest record: its digests under the algorithm's name ("sha256" and
    "text_sha256", or "xxh128" and "text_xxh128")."""
    return {
        "name": name,
        "start": start,
        "stop": stop,
        "bytes": size,
        algorithm: digest,
        f"text_{algorithm}": text_digest,
    }


def _file_digests(
    fs: Any, path: str, format: str, compression: str | None, algorithm: str, *, text: bool
) -> tuple[int, str, str | None]:
    """The size and digest of a file's bytes and, when text is asked for, of its uncompressed
    text (None for Parquet, which has none), read once."""
    raw = _engine.Hasher(algorithm)
    size = 0
    with fs.open(path, "rb") as file:

        def chunks() -> Iterator[bytes]:
            nonlocal size
            while chunk := file.read(CHUNK):
                raw.update(chunk)
                size += len(chunk)
                yield chunk

        if not text or format == "parquet" or compression is None:
            for _ in chunks():
                pass
            text_digest = None if format == "parquet" else raw.hexdigest()
        else:
            digest = _engine.Hasher(algorithm)
            for piece in _decompressed(chunks(), compression):
                digest.update(piece)
            text_digest = digest.hexdigest()
    return size, raw.hexdigest(), text_digest if text else None


def _decompressed(chunks: Iterable[bytes], compression: str) -> Iterator[bytes]:
    """The text of a stream of gzip members or zstd frames, one after another."""
    if compression == "zstd":
        import zstandard

        decompressor = zstandard.ZstdDecompressor().decompressobj(read_across_frames=True)
        for chunk in chunks:
            try:
                piece = decompressor.decompress(chunk)
            except zstandard.ZstdError as error:
                raise ValueError(str(error)) from None
            yield piece
        return
    member = zlib.decompressobj(wbits=31)
    pending = False  # inside a member
    for chunk in chunks:
        while chunk:
            yield member.decompress(chunk)
            pending = not member.eof
            if member.eof:
                chunk = member.unused_data
                member = zlib.decompressobj(wbits=31)
            else:
                chunk = b""
    if pending:
        raise EOFError("the gzip stream ends inside a member")


# The caller's side.


class _Discard(io.BytesIO):
    """A binary file object that keeps nothing."""

    def write(self, data: Buffer, /) -> int:
        return memoryview(data).nbytes


def _package_version() -> str:
    try:
        return version("tessary")
    except PackageNotFoundError:  # run from a source tree
        return "unknown"


def _join(folder: str, name: str) -> str:
    return f"{folder.rstrip('/')}/{name}"


def _listing(fs: Any, folder: str) -> dict[str, int]:
    """The files of the folder (names, not paths) and their sizes. FileNotFoundError when the
    folder is not there, NotADirectoryError when it is a file."""
    if fs.isfile(folder):
        raise NotADirectoryError(f"{folder} is a file, not a data set folder")
    return {
        entry["name"].rstrip("/").rsplit("/", 1)[-1]: entry["size"]
        for entry in fs.ls(folder, detail=True)
        if entry["type"] != "directory"
    }


def _parameters(document: dict[str, Any]) -> dict[str, Any]:
    """What must be equal for two calls to write the same data set: all but the package version
    (the stream version says whether the bytes are the same) and the manifest's digest algorithm
    and records."""
    return {
        key: value for key, value in document.items() if key not in ("tessary", "digest", "parts")
    }


def _read_document(
    fs: Any, folder: str, name: str, present: dict[str, int]
) -> tuple[dict[str, Any] | None, list[Problem]]:
    if name not in present:
        return None, []
    try:
        document = json.loads(fs.cat_file(_join(folder, name)))
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


def _remove_temporaries(fs: Any, folder: str, present: dict[str, int]) -> None:
    for name in present:
        if _is_temporary(name):
            fs.rm(_join(folder, name))


def _prepare_folder(
    fs: Any, folder: str, intent: dict[str, Any], overwrite: bool
) -> dict[str, dict[str, Any]]:
    """Makes the folder ready for the parts: refuses or clears what is in the way, writes the
    intent file and removes stale temporary files. Returns the records of an earlier manifest
    of the same data set, by part name."""
    fs.makedirs(folder, exist_ok=True)
    try:
        present = _listing(fs, folder)
    except FileNotFoundError:  # object stores have no empty folders
        present = {}
    existing, problems = _read_document(fs, folder, INTENT, present)
    if problems and not overwrite:
        raise ValueError(
            f"{_join(folder, INTENT)} {problems[0].message}: pass overwrite=True to replace it"
        )
    if existing is not None and _parameters(existing) == _parameters(intent):
        manifest, _ = _read_document(fs, folder, MANIFEST, present)
        _remove_temporaries(fs, folder, present)
        if manifest is None or _parameters(manifest) != _parameters(intent):
            return {}
        return {record["name"]: record for record in manifest.get("parts", [])}
    if not overwrite:
        if existing is not None:
            differing = sorted(
                key for key in _parameters(intent) if existing.get(key) != intent[key]
            )
            raise ValueError(
                f"{folder} holds a data set written with other parameters "
                f"({', '.join(differing)}): pass overwrite=True to replace it"
            )
        if present:
            raise ValueError(
                f"{folder} is not empty and holds no data set: pass overwrite=True to write into it"
            )
    # The manifest goes first: from then on the folder never claims to be complete.
    for name in sorted(present, key=lambda name: name != MANIFEST):
        if _is_ours(name) or _is_temporary(name):
            fs.rm(_join(folder, name))
    _put_json(fs, _join(folder, INTENT), intent)
    return {}


def _put_json(fs: Any, path: str, document: dict[str, Any]) -> None:
    """Writes a JSON document whole or not at all: under a temporary name, then renamed."""
    folder, name = path.rsplit("/", 1)
    temporary = _join(folder, f".{name}.{uuid.uuid4().hex}.part")
    fs.pipe_file(temporary, _dumps(document).encode())
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


def _active_client() -> Any:
    """The distributed client that dask.compute would use now, or None."""
    scheduler = get_scheduler()  # type: ignore[no-untyped-call]
    owner = getattr(scheduler, "__self__", None)
    try:
        from distributed import Client
    except ImportError:
        return None
    return owner if isinstance(owner, Client) else None


def _compute(tasks: list[Any], entities: list[int], progress: Progress) -> list[dict[str, Any]]:
    """The results of the tasks, in order, computed on the current scheduler; progress counts
    the entities of the finished tasks."""
    reporter, close = _progress_reporter(progress, sum(entities))
    if not tasks:
        close()
        return []
    done = written = 0

    def finished(index: int, result: dict[str, Any]) -> None:
        nonlocal done, written
        done += entities[index]
        written += result.get("bytes") or 0
        reporter(done, sum(entities), written)

    try:
        client = _active_client()
        if client is not None:
            return _compute_distributed(client, tasks, finished if reporter else None)
        if reporter is None:
            return list(compute(*tasks))  # type: ignore[no-untyped-call]
        from dask.callbacks import Callback

        keys = {task.key: index for index, task in enumerate(tasks)}

        def posttask(key: Any, result: Any, *_: Any) -> None:
            if key in keys:
                finished(keys[key], result)

        with Callback(posttask=posttask):  # type: ignore[no-untyped-call]
            return list(compute(*tasks))  # type: ignore[no-untyped-call]
    finally:
        close()


def _compute_distributed(
    client: Any, tasks: list[Any], finished: Callable[[int, dict[str, Any]], None] | None
) -> list[dict[str, Any]]:
    from distributed import as_completed

    futures = client.compute(tasks, retries=RETRIES)
    index = {future.key: i for i, future in enumerate(futures)}
    try:
        for future in as_completed(futures):  # type: ignore[no-untyped-call]
            result = future.result()  # raises the task's error
            if finished is not None:
                finished(index[future.key], result)
        return [future.result() for future in futures]
    finally:
        client.cancel([future for future in futures if not future.done()])
