"""Streaming output: a table's entities written to paths and file objects, or handed out as
chunks, as they are built.

Memory stays bounded by the blocks in flight, whatever the range, and the interpreter lock is
released while the worker threads build, so other Python threads keep running.
"""

from __future__ import annotations

import io
import os
from typing import IO, Any, Union

from tessary import _engine
from tessary._engine import TextChunks
from tessary.files import write_to_path
from tessary.parquet import write_parquet
from tessary.progress import Progress, progress_reporter
from tessary.results import DIGESTS, WriteResult, digest_algorithm
from tessary.table import Table

__all__ = ["DIGESTS", "Progress", "Target", "WriteResult", "iter_text", "write", "write_table"]

Target = Union[str, "os.PathLike[str]", IO[bytes]]


def write(
    target: Target,
    seed: int,
    scale: int,
    specs_json: str,
    *,
    format: str | None = None,
    compression: str | None = None,
    level: int | None = None,
    start: int = 0,
    stop: int | None = None,
    digest: bool | str = False,
    progress: Progress = False,
) -> WriteResult:
    """Write the entities with ids ``start`` to ``stop - 1`` (``stop`` defaults to ``scale``).

    ``target`` is a path or a writable binary file object. Formats: ``"json"`` (one JSON array;
    for the whole range exactly the text of ``generate_entities``), ``"jsonl"`` (one entity
    object per line) and ``"parquet"`` (the columns of ``generate_batches``, written by pyarrow,
    which must be installed); a path's suffix (``.json``, ``.jsonl``, ``.ndjson``, ``.parquet``,
    then ``.gz`` or ``.zst`` for text) gives the format and compression unless they are given.
    ``compression`` is ``"gzip"`` (libdeflate, levels 0 to 12, default 5) or ``"zstd"`` (default
    level 3), one member or frame per block; Parquet compresses its pages itself. For Parquet,
    ``text_bytes`` is 0. ``digest`` is False, True or ``"sha256"`` (SHA-256), or ``"xxh128"``
    (XXH3-128): see :class:`WriteResult`.

    A path is written through a temporary file renamed over it when everything succeeded: on any
    failure nothing is left and an existing file is untouched. A file object keeps what was
    written before a failure. ``progress=True`` shows a bar on standard error; a callable
    receives ``(done, total)``, entities written since ``start``.
    """
    table = Table(seed, scale, specs_json, start=start, stop=stop)
    return write_table(
        table, target, format=format, compression=compression, level=level, digest=digest,
        progress=progress,
    )


def _target_name(target: Target) -> str | None:
    """The path of a path target, None for a file object; TypeError for anything else."""
    if isinstance(target, (str, os.PathLike)):
        path = os.fspath(target)
        path = os.fsdecode(path) if isinstance(path, bytes) else path
        if not path:
            raise ValueError("an empty path names no file")
        return path
    if isinstance(target, io.TextIOBase):
        raise TypeError("target is a text file: open it in binary mode ('wb')")
    if callable(getattr(target, "write", None)):
        return None
    raise TypeError(
        f"target must be a path or a writable binary file object, not {type(target).__name__}"
    )


def write_table(
    table: Table,
    target: Target,
    *,
    format: str | None,
    compression: str | None,
    level: int | None,
    digest: bool | str,
    progress: Progress,
) -> WriteResult:
    """What :meth:`Table.write` and :func:`write` do: the output's options are resolved and the
    table's entity ``start`` built before any file is created."""
    name = _target_name(target)
    format, compression, level = _engine.output_options(name, format, compression, level)
    algorithm = digest_algorithm(digest)
    batches = table.batches() if format == "parquet" else None  # refuses columns it cannot make
    table.check_first_entity()
    reporter, close_reporter = progress_reporter(progress, table.count)

    def write_fd_or_file(fd_or_file: Any) -> WriteResult:
        if batches is not None:
            return write_parquet(fd_or_file, batches, table.count, algorithm, reporter)
        counts = table._write(fd_or_file, format, compression, level, algorithm, reporter)
        return WriteResult.of(*counts, algorithm)

    try:
        if name is None:
            return write_fd_or_file(target)
        return write_to_path(name, write_fd_or_file)
    finally:
        close_reporter()
        if batches is not None:
            batches.close()  # still unread when the output could not be opened


def iter_text(
    seed: int,
    scale: int,
    specs_json: str,
    *,
    format: str = "jsonl",
    compression: str | None = None,
    level: int | None = None,
    start: int = 0,
    stop: int | None = None,
) -> TextChunks:
    """Yield the bytes :func:`write` would write, in ordered chunks built as they are consumed.

    Arguments and specs are checked, and entity ``start`` built, at the call. Closing or dropping
    the iterator cancels the work in flight and frees everything.
    """
    table = Table(seed, scale, specs_json, start=start, stop=stop)
    return table.iter_text(format=format, compression=compression, level=level)
