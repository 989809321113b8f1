"""Checking a data set folder against its manifest, reading nothing else."""

from __future__ import annotations

import random
from typing import Any

import fsspec  # type: ignore[import-untyped]
from dask.delayed import delayed

import tessary
from tessary.dask.folder import (
    INTENT,
    MANIFEST,
    MANIFEST_DEFAULT_DIGEST,
    Problem,
    join,
    listing,
    malformation,
    parameters,
    read_document,
    table_of,
)
from tessary.dask.parts import DIGEST_TITLES, check_part
from tessary.dask.planning import part_name
from tessary.dask.scheduling import run_part_tasks


def verify(
    url: str, *, regenerate: int = 0, storage_options: dict[str, Any] | None = None
) -> list[Problem]:
    """The problems of the data set at ``url``: an empty list when it is sound.

    Reads nothing but the folder and changes no file. Reports missing parts, extra files and parts
    whose size or digest (by the manifest's algorithm) differs from the manifest, each by name;
    with ``regenerate=k``, also regenerates k parts chosen at random from the intent file's
    parameters (a data set's table from its data set, references and all) and compares the
    digest of their uncompressed text with the file's. The digests are computed on the workers.
    """
    if regenerate < 0:
        raise ValueError(f"regenerate must be at least 0, not {regenerate}")
    fs, folder = fsspec.core.url_to_fs(url, **(storage_options or {}))
    try:
        present = listing(fs, folder)
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
    table = None
    if regenerate and checked:
        if document.get("stream_version") != tessary.STREAM_VERSION:
            problems.append(
                Problem(
                    INTENT, "written with another stream version: its parts cannot be regenerated"
                )
            )
        else:
            try:
                table = table_of(document)
            except ValueError as error:
                problems.append(Problem(INTENT, f"its table cannot be rebuilt: {error}"))
            else:
                regenerating = {
                    record["name"]
                    for record in random.sample(checked, min(regenerate, len(checked)))
                }
    # Without a manifest there are no digests to compare, only regenerations.
    algorithm = document.get("digest", MANIFEST_DEFAULT_DIGEST)
    checked = [
        record for record in checked if algorithm in record or record["name"] in regenerating
    ]
    tasks = [
        delayed(check_part, pure=False)(
            fs, join(folder, record["name"]), document["format"], document["compression"],
            algorithm,
            # A slice travels as its arguments, or its data set and name.
            table[record["start"] : record["stop"]]
            if table is not None and record["name"] in regenerating
            else None,
        )
        for record in checked
    ]
    outcomes = run_part_tasks(tasks, [r["stop"] - r["start"] for r in checked], False, None)
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
    intent, problems = read_document(fs, folder, INTENT, present)
    manifest, more = read_document(fs, folder, MANIFEST, present)
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
        manifest is not None and intent is not None and parameters(manifest) != parameters(intent)
    ):
        problems.append(Problem(MANIFEST, f"its parameters differ from those of {INTENT}"))
    document = manifest if manifest is not None else intent
    assert document is not None
    name = MANIFEST if manifest is not None else INTENT
    reason = malformation(document, manifest is not None)
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
