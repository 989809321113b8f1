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
import json
import operator
import os
import random
import re
import threading
import time
import uuid
import zlib
from collections.abc import Callable, Iterable, Iterator
from dataclasses import dataclass
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
    DIGESTS,
    Progress,
    WriteResult,
    _progress_reporter,
    digest_algorithm,
    write_to_path,
)

__all__ = ["Problem", "WriteSummary", "dataframe", "plan_ranges", "verify", "write"]

INTENT = "_tessary.json"
MANIFEST = "_manifest.json"

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

# The most parts a data set may have: its manifest lists them all, and the caller plans and
# schedules every one. The default partitioning makes larger parts rather than more.
MAX_PARTITIONS = 100_000

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
    return f"part-{start:020d}-{stop:020d}{_engine.output_suffix(format, compression)}"


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
    ids (the last one shorter), or by default ranges of about 128 MB of text each (larger where
    that would make more than MAX_PARTITIONS). The default depends only on the seed, the scale and
    the specs, never on the cluster. A scale of 0 has one empty range. More than MAX_PARTITIONS
    ranges are refused with ValueError.
    """
    if partitions is not None and rows_per_partition is not None:
        raise ValueError("give partitions or rows_per_partition, not both")
    scale = operator.index(scale)
    if partitions is not None:
        partitions = operator.index(partitions)
        if not 1 <= partitions <= min(max(scale, 1), MAX_PARTITIONS):
            raise ValueError(
                f"partitions must be between 1 and the scale ({scale}), at most "
                f"{MAX_PARTITIONS}, not {partitions}"
            )
        return [(i * scale // partitions, (i + 1) * scale // partitions) for i in range(partitions)]
    fewest_rows = -(-scale // MAX_PARTITIONS)
    if rows_per_partition is None:
        rows_per_partition = max(default_rows_per_partition(seed, scale, specs_json), fewest_rows)
    elif operator.index(rows_per_partition) < 1:
        raise ValueError(f"rows_per_partition must be at least 1, not {rows_per_partition}")
    elif rows_per_partition < fewest_rows:
        raise ValueError(
            f"rows_per_partition {rows_per_partition} makes more than {MAX_PARTITIONS} parts of "
            f"{scale} ids: give at least {fewest_rows}"
        )
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
    table = tessary.Table(seed, scale, specs_json)
    text = sum(len(table[start : start + count].text("jsonl").encode()) for start in starts)
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
    is ``"gzip"`` or ``"zstd"`` for the text formats (a suffix ``.gz``/``.zst`` on the parts);
    Parquet compresses its pages itself and takes none. ``partitions`` or ``rows_per_partition``
    choose the id ranges (see :func:`plan_ranges`). ``storage_options`` go to fsspec.

    Over a folder whose intent file has the same parameters, only the missing parts are written
    (stale temporary files are removed), then the manifest. A folder with an intent file of other
    parameters, or with files but no data set, is refused with ValueError unless ``overwrite``,
    which removes the data set's files first. ``progress=True`` shows a bar of entities on
    standard error; a callable receives ``(done, total)``. ``digest`` is the manifest's digest
    algorithm: ``"sha256"`` (what ``sha256sum`` compares) or ``"xxh128"`` (XXH3-128, several
    times faster, against accidental corruption only); parts already there with digests of
    another algorithm are hashed again.
    """
    if not url:
        raise ValueError("an empty URL names no folder")
    algorithm = digest_algorithm(digest)
    if algorithm is None:
        raise ValueError(
            f"a data set's manifest holds digests: digest is one of {', '.join(DIGESTS)}"
        )
    _engine.output_options(None, format, compression, None)  # the writer's own rules
    if not (isinstance(progress, bool) or callable(progress)):
        raise TypeError("progress must be True, False or a callable taking (done, total)")
    # Arguments, specs and the first entity are checked before anything is created.
    tessary.Table(seed, scale, specs_json).check_first_entity()
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
    run = _LocalRun.token()
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
                algorithm, run,
            )
        tasks.append(task)
        entities.append(stop - start)
    written = []
    for record in _compute(tasks, entities, progress, run):
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
    outcomes = _compute(tasks, [r["stop"] - r["start"] for r in checked], False, None)
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
    reason = _malformation(document, manifest is not None)
    if reason is not None:
        return None, [], problems + [Problem(name, f"is not a data set document: {reason}")]
    format, compression = document["format"], document["compression"]
    if manifest is None:
        records = [
            {"name": part_name(start, stop, format, compression), "start": start, "stop": stop}
            for start, stop in document["partitions"]
        ]
        return document, records, problems
    records = [dict(record) for record in manifest["parts"]]
    listed = {(record["start"], record["stop"]) for record in records}
    for start, stop in document["partitions"]:
        if (start, stop) not in listed:
            problems.append(
                Problem(part_name(start, stop, format, compression), "missing from the manifest")
            )
    return document, records, problems


def _is_u64(value: Any) -> bool:
    return type(value) is int and 0 <= value < 1 << 64


def _malformation(document: dict[str, Any], manifest: bool) -> str | None:
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


def _pandas_dtype(arrow_type: Any) -> Any:
    """The pandas dtype of a column of this Arrow type: the nullable dtypes for integers,
    booleans and doubles, so that a partition holding a null keeps its column's type and every
    value (NumPy's would make the integers doubles, rounding those above 2**53, and the booleans
    objects). None leaves the type to pyarrow (the id, texts, dictionaries, nulls)."""
    import pandas as pd  # type: ignore[import-untyped]
    import pyarrow as pa  # type: ignore[import-untyped]

    if pa.types.is_int64(arrow_type):
        return pd.Int64Dtype()
    if pa.types.is_boolean(arrow_type):
        return pd.BooleanDtype()
    if pa.types.is_float64(arrow_type):
        return pd.Float64Dtype()
    return None


def _range_frame(id_range: tuple[int, int], seed: int, scale: int, specs_json: str) -> Any:
    """The entities of one id range as a pandas frame indexed by id (the first column), each
    column of the dtype that every partition and the empty meta frame share."""
    import pyarrow as pa

    start, stop = id_range
    stream = tessary.generate_batches(seed, scale, specs_json, start=start, stop=stop)
    table = pa.RecordBatchReader.from_stream(stream).read_all()
    frame = table.to_pandas(types_mapper=_pandas_dtype)
    ids = frame.iloc[:, 0].rename("id")
    frame = frame.iloc[:, 1:]
    frame.index = ids
    return frame


# What runs on the workers. Each returns a plain dict that travels back to the caller.


def _write_part(
    fs: Any, folder: str, name: str, start: int, stop: int, seed: int, scale: int, specs_json: str,
    format: str, compression: str | None, algorithm: str, run: tuple[int, str],
) -> dict[str, Any]:
    """Writes one part under a temporary name unique to this attempt and renames it when
    complete; in the caller's process, stops (leaving nothing) when the caller cancels the run."""
    with _LocalRun.part(run) as cancelled:
        return _write_part_file(
            fs, folder, name, start, stop, seed, scale, specs_json, format, compression, algorithm,
            cancelled,
        )


def _write_part_file(
    fs: Any, folder: str, name: str, start: int, stop: int, seed: int, scale: int, specs_json: str,
    format: str, compression: str | None, algorithm: str, cancelled: Progress,
) -> dict[str, Any]:
    path = _join(folder, name)
    arguments: dict[str, Any] = {
        "format": format, "compression": compression, "start": start, "stop": stop,
        "digest": algorithm, "progress": cancelled,
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


def _package_version() -> str:
    return tessary.__version__


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
        if (
            manifest is None
            or _parameters(manifest) != _parameters(intent)
            or _malformation(manifest, True) is not None
        ):
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
    temporary = _join(folder, f".{name}.{uuid.uuid4().hex}.part")
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


def _active_client() -> Any:
    """The distributed client that dask.compute would use now, or None."""
    scheduler = get_scheduler()  # type: ignore[no-untyped-call]
    owner = getattr(scheduler, "__self__", None)
    try:
        from distributed import Client
    except ImportError:
        return None
    return owner if isinstance(owner, Client) else None


class _PartCancelled(Exception):
    """Raised in a part that stopped because its run was cancelled."""


class _LocalRun:
    """The parts of one call that run in the caller's process (on the sync and threaded
    schedulers, or a cluster of threads), which the caller cancels when the call fails or is
    interrupted: each part's write looks at the run's flag through its progress callable (about
    ten times a second), stops and removes its temporary file. Parts in other processes never
    find their run here and are not cancelled this way."""

    _runs: dict[str, _LocalRun] = {}
    _lock = threading.Lock()

    def __init__(self) -> None:
        self.cancelled = False
        self.running = 0

    @staticmethod
    def token() -> tuple[int, str]:
        """What the tasks of a new run carry: the caller's process and a key unique to the run."""
        return os.getpid(), uuid.uuid4().hex

    @classmethod
    @contextlib.contextmanager
    def part(cls, token: tuple[int, str]) -> Iterator[Progress]:
        """For the length of a part: a progress callable that raises _PartCancelled once the run is
        cancelled (False in another process). A part of this process that finds its run gone (the
        call has returned) or cancelled does not start."""
        pid, key = token
        if pid != os.getpid():
            yield False
            return
        with cls._lock:
            run = cls._runs.get(key)
            if run is None or run.cancelled:
                raise _PartCancelled("the call that scheduled this part has ended")
            run.running += 1

        def look(_done: int, _total: int) -> None:
            if run.cancelled:
                raise _PartCancelled("the call that scheduled this part was cancelled")

        try:
            yield look
        finally:
            with cls._lock:
                run.running -= 1

    @classmethod
    @contextlib.contextmanager
    def running_in(cls, token: tuple[int, str] | None) -> Iterator[None]:
        """Registers the run for the block's length. When the block fails (an error of a part, or
        KeyboardInterrupt), cancels the parts of this process and waits until none is running."""
        if token is None:
            yield
            return
        run = _LocalRun()
        with cls._lock:
            cls._runs[token[1]] = run
        try:
            yield
        except BaseException:
            with cls._lock:
                run.cancelled = True
            while run.running:
                try:
                    time.sleep(0.01)
                except KeyboardInterrupt:  # a second Ctrl-C: the parts stop within moments anyway
                    continue
            raise
        finally:
            with cls._lock:
                del cls._runs[token[1]]


def _compute(
    tasks: list[Any], entities: list[int], progress: Progress, run: tuple[int, str] | None
) -> list[dict[str, Any]]:
    """The results of the tasks, in order, computed on the current scheduler; progress counts
    the entities of the finished tasks. When the computation fails or is interrupted, the parts
    of `run` in this process are cancelled before the error propagates; a cluster's are
    cancelled as futures (a worker may still finish one that is running)."""
    with _LocalRun.running_in(run):
        return _compute_tasks(tasks, entities, progress)


def _compute_tasks(
    tasks: list[Any], entities: list[int], progress: Progress
) -> list[dict[str, Any]]:
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
