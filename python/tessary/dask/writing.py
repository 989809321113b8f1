"""Writing a data set: the intent, the missing parts, then the manifest."""

from __future__ import annotations

import hashlib
from dataclasses import dataclass
from typing import Any

import fsspec  # type: ignore[import-untyped]
from dask.delayed import delayed

import tessary
from tessary import _engine
from tessary.dask.folder import (
    MANIFEST,
    join,
    listing,
    package_version,
    prepare_folder,
    put_json,
    remove_temporaries,
)
from tessary.dask.parts import digest_part, write_part
from tessary.dask.planning import part_name, plan_ranges, table_arguments
from tessary.dask.scheduling import LocalRun, run_part_tasks
from tessary.progress import Progress
from tessary.results import DIGESTS, digest_algorithm


@dataclass(frozen=True)
class WriteSummary:
    """What a call of :func:`write` did: the manifest's part records, in id order, and the names
    of the parts this call wrote (the others were there already)."""

    url: str
    parts: list[dict[str, Any]]
    written: list[str]


def write(
    url: str,
    seed: int | tessary.Table,
    scale: int | None = None,
    specs_json: str | None = None,
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
    """Write the entities of ids 0 to scale - 1 as a data set folder at ``url`` (any fsspec URL):
    those of a whole ``Table`` given in place of ``seed``, or of the arguments a Table takes.

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
    seed, scale, specs_json = table_arguments(seed, scale, specs_json)
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
        "tessary": package_version(),
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
    known = prepare_folder(fs, folder, intent, overwrite)
    present = listing(fs, folder)

    records: dict[str, dict[str, Any]] = {}
    run = LocalRun.token()
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
            task = delayed(digest_part, pure=False)(
                fs, join(folder, name), start, stop, format, compression, algorithm
            )
        else:
            task = delayed(write_part, pure=False)(
                fs, folder, name, start, stop, seed, scale, specs_json, format, compression,
                algorithm, run,
            )
        tasks.append(task)
        entities.append(stop - start)
    written = []
    for record in run_part_tasks(tasks, entities, progress, run):
        if record.pop("written"):
            written.append(record["name"])
        records[record["name"]] = record

    remove_temporaries(fs, folder, listing(fs, folder))
    parts = [records[part_name(start, stop, format, compression)] for start, stop in ranges]
    put_json(fs, join(folder, MANIFEST), {**intent, "digest": algorithm, "parts": parts})
    return WriteSummary(url, parts, written)
