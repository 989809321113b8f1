"""Writing a data set folder: the intent, the missing parts, then the manifest; and a data set
of tables, one such folder per table, all of whose parts run as one computation."""

from __future__ import annotations

from collections.abc import Mapping
from dataclasses import dataclass
from typing import Any

import fsspec  # type: ignore[import-untyped]
from dask.delayed import delayed

import tessary
from tessary import _engine
from tessary.dask.folder import (
    MANIFEST,
    examine_folder,
    intent_of,
    join,
    listing,
    prepare_folder,
    put_json,
    remove_temporaries,
)
from tessary.dask.parts import digest_part, write_part
from tessary.dask.planning import (
    check_table_names,
    part_name,
    plan_ranges,
    table_option,
    whole_table,
)
from tessary.dask.scheduling import LocalRun, run_part_tasks
from tessary.progress import Progress
from tessary.results import DIGESTS, digest_algorithm

PerTable = int | Mapping[str, int] | None

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
    table = whole_table(seed, scale, specs_json)
    return _write_folders(
        [(url, table, partitions, rows_per_partition)], format=format, compression=compression,
        storage_options=storage_options, overwrite=overwrite, progress=progress, digest=digest,
    )[0]


def write_dataset(
    url: str,
    ds: tessary.Dataset,
    *,
    format: str = "parquet",
    compression: str | None = None,
    partitions: PerTable = None,
    rows_per_partition: PerTable = None,
    storage_options: dict[str, Any] | None = None,
    overwrite: bool = False,
    progress: Progress = False,
    digest: str = "sha256",
) -> dict[str, WriteSummary]:
    """Write every table of the data set ``ds`` as a data set folder ``url/<table name>/``, as
    :func:`write` writes one table, its intent file also holding the data set (its seed, its
    document and the table's name) so that :func:`verify` rebuilds the references of its parts.

    ``partitions`` and ``rows_per_partition`` are one value for every table (``partitions``
    capped at each table's scale) or a mapping of table names to values (the tables it leaves
    out partitioned by default). The other arguments are those of :func:`write`; the parts of all
    tables run as one computation, and ``progress`` counts the entities of them all. Every folder
    is checked before any is changed; resuming writes the missing parts of every table. Returns
    each table's :class:`WriteSummary`, by name.
    """
    if not isinstance(ds, tessary.Dataset):
        raise TypeError(f"ds must be a tessary.Dataset, not {type(ds).__name__}")
    check_table_names(partitions, ds, "partitions")
    check_table_names(rows_per_partition, ds, "rows_per_partition")
    tables = [ds[name] for name in ds.tables]
    targets = [
        (
            join(url, str(table.name)) if url else "",
            table,
            table_option(partitions, table, at_most_scale=True),
            table_option(rows_per_partition, table),
        )
        for table in tables
    ]
    summaries = _write_folders(
        targets, format=format, compression=compression, storage_options=storage_options,
        overwrite=overwrite, progress=progress, digest=digest,
    )
    return {str(table.name): summary for table, summary in zip(tables, summaries, strict=True)}


def _write_folders(
    targets: list[tuple[str, tessary.Table, int | None, int | None]],
    *,
    format: str,
    compression: str | None,
    storage_options: dict[str, Any] | None,
    overwrite: bool,
    progress: Progress,
    digest: str,
) -> list[WriteSummary]:
    """Writes each whole table to the folder at its URL, with its partitions or
    rows_per_partition. Every argument and folder is checked before anything is changed."""
    if any(not url for url, *_ in targets):
        raise ValueError("an empty URL names no folder")
    algorithm = digest_algorithm(digest)
    if algorithm is None:
        raise ValueError(
            f"a data set's manifest holds digests: digest is one of {', '.join(DIGESTS)}"
        )
    _engine.output_options(None, format, compression, None)  # the writer's own rules
    if not (isinstance(progress, bool) or callable(progress)):
        raise TypeError("progress must be True, False or a callable taking (done, total)")
    folders = []
    for url, table, partitions, rows_per_partition in targets:
        table.check_first_entity()
        ranges = plan_ranges(table, partitions=partitions, rows_per_partition=rows_per_partition)
        fs, folder = fsspec.core.url_to_fs(url, **(storage_options or {}))
        folders.append((url, table, fs, folder, intent_of(table, ranges, format, compression)))
    for _, _, fs, folder, intent in folders:
        examine_folder(fs, folder, intent, overwrite)

    records: list[dict[str, dict[str, Any]]] = []
    run = LocalRun.token()
    tasks, entities, owners = [], [], []
    for index, (_, table, fs, folder, intent) in enumerate(folders):
        known = prepare_folder(fs, folder, intent, overwrite)
        present = listing(fs, folder)
        records.append({})
        for start, stop in intent["partitions"]:
            name = part_name(start, stop, format, compression)
            record = known.get(name)
            if (
                name in present
                and record is not None
                and record["bytes"] == present[name]
                and algorithm in record
            ):
                records[index][name] = record
                continue
            if name in present:  # complete (it has its final name) but not in a manifest yet
                task = delayed(digest_part, pure=False)(
                    fs, join(folder, name), start, stop, format, compression, algorithm
                )
            else:
                task = delayed(write_part, pure=False)(
                    fs, folder, name, table[start:stop], format, compression, algorithm, run
                )
            tasks.append(task)
            entities.append(stop - start)
            owners.append(index)
    written: list[list[str]] = [[] for _ in folders]
    for index, record in zip(owners, run_part_tasks(tasks, entities, progress, run), strict=True):
        if record.pop("written"):
            written[index].append(record["name"])
        records[index][record["name"]] = record

    summaries = []
    for index, (url, _, fs, folder, intent) in enumerate(folders):
        remove_temporaries(fs, folder, listing(fs, folder))
        parts = [
            records[index][part_name(start, stop, format, compression)]
            for start, stop in intent["partitions"]
        ]
        put_json(fs, join(folder, MANIFEST), {**intent, "digest": algorithm, "parts": parts})
        summaries.append(WriteSummary(url, parts, written[index]))
    return summaries
