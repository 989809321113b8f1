"""Data sets: several tables whose references point at one another, read from one document.

A Dataset is made from a seed and a data set document, ``{"tables": [{"name": ..., "scale": ...,
"attributes": [...]}, ...]}``. Each table is a :class:`~tessary.Table` drawn under its own seed,
mixed from the data set's seed and its name; a ``reference`` attribute copies a value of another
table's entity, rebuilt from that table's seed and the entity's id, so that every reference
resolves in any slice, on any machine, with nothing stored::

    ds = tessary.Dataset(42, document_json)
    ds.tables                        # the names, in document order
    pyarrow.table(ds["orders"])      # a Table, with everything a Table offers
    ds.write("shop")                 # a folder of one file per table, and _dataset.json
"""

from __future__ import annotations

import contextlib
import errno
import json
import os
import shutil
import tempfile
from collections.abc import Iterator

from tessary import _engine
from tessary.checking import SpecProblem
from tessary.files import write_to_path
from tessary.progress import Progress, progress_reporter
from tessary.results import WriteResult
from tessary.table import Table

# The file of a written data set that describes it, written last.
DESCRIPTION = "_dataset.json"


class Dataset(_engine.Dataset):
    """The tables that ``seed`` and the data set document ``document_json`` describe.

    ``Dataset(seed, document_json)`` reads and checks the whole document at once: a malformed
    document, an unknown table or attribute, a cycle of references or a scale that a table cannot
    have raises ``ValueError`` with the line and column, and nothing is built. ``ds[name]`` is the
    Table of that name, ``ds.tables`` the names in document order.
    """

    __slots__ = ()

    def __getitem__(self, name: str) -> Table:
        return self._table(Table, name)

    def __iter__(self) -> Iterator[str]:
        return iter(self.tables)

    def __len__(self) -> int:
        return len(self.tables)

    def __contains__(self, name: object) -> bool:
        return name in self.tables

    def __repr__(self) -> str:
        shown = ", ".join(f"{name} ({self[name].scale})" for name in self.tables)
        return f"<tessary.Dataset seed={self.seed}: {shown or 'no tables'}>"

    def __reduce__(self) -> tuple[object, ...]:
        # Pickled as its arguments (for Dask workers): the document is read again on arrival.
        return (Dataset, (self.seed, self.document_json))

    def check(self) -> list[SpecProblem]:
        """The problems of every table's attributes, as :func:`tessary.check_specs` finds them,
        each message starting with its table's name."""
        return [SpecProblem(*problem) for problem in self.problems()]

    def write(
        self,
        folder: str | os.PathLike[str],
        *,
        format: str = "parquet",
        compression: str | None = None,
        progress: Progress = False,
        overwrite: bool = False,
    ) -> dict[str, WriteResult]:
        """Write every table to a new folder: one file per table, named after it
        (``customers.parquet``, ``orders.jsonl.zst``...), and ``_dataset.json`` with the seed,
        the document and the format, written last.

        ``format`` is ``"parquet"``, ``"jsonl"`` or ``"json"``, ``compression`` as for
        :func:`tessary.write`. The folder is written under a temporary name beside it and renamed
        when complete, so a failed write leaves nothing. An existing folder is refused
        (``FileExistsError``) unless ``overwrite=True``, which replaces it only once the new one
        is complete. ``progress=True`` shows one bar for all the entities; a callable receives
        ``(done, total)`` over all tables. Returns the :class:`WriteResult` of each table.
        """
        path = os.fspath(folder)
        if not path:
            raise ValueError("an empty path names no folder")
        format, compression, _ = _engine.output_options(None, format, compression, None)
        suffix = _engine.output_suffix(format, compression)
        tables = [self[name] for name in self.tables]
        for table in tables:  # every table fails here, before anything is created
            with _named_failures(table):
                if format == "parquet":
                    table.__arrow_c_schema__()
                table.check_first_entity()
        if os.path.lexists(path) and not overwrite:
            raise FileExistsError(errno.EEXIST, "the data set's folder exists", path)
        parent, base = os.path.split(os.path.abspath(path))
        temporary = tempfile.mkdtemp(dir=parent, prefix=f".{base}.", suffix=".part")
        try:
            results = _write_tables(tables, temporary, format, compression, suffix, progress)
            description = {
                "seed": self.seed,
                "document": self.document_json,
                "format": format,
                "compression": compression,
                "tables": [
                    {"name": table.name, "file": f"{table.name}{suffix}", "entities": table.count}
                    for table in tables
                ],
            }
            text = json.dumps(description, indent=2).encode() + b"\n"
            write_to_path(
                os.path.join(temporary, DESCRIPTION), lambda fd: _engine.write_bytes(fd, text)
            )
            _put_in_place(temporary, os.path.abspath(path))
        except BaseException:
            shutil.rmtree(temporary, ignore_errors=True)
            raise
        return results


@contextlib.contextmanager
def _named_failures(table: Table) -> Iterator[None]:
    """Names the table in the message of a failure of its attributes (a ValueError or a
    PanicException), which is raised again with the same type."""
    try:
        yield
    except (ValueError, _engine.panic_exception()) as error:
        raise type(error)(f"table `{table.name}`: {error}") from None


def _write_tables(
    tables: list[Table],
    folder: str,
    format: str,
    compression: str | None,
    suffix: str,
    progress: Progress,
) -> dict[str, WriteResult]:
    total = sum(table.count for table in tables)
    # One reporter for all the tables, which each report their own entities from 0.
    reporter, close_reporter = progress_reporter(progress, total)
    results: dict[str, WriteResult] = {}
    done_before = 0
    try:
        for table in tables:
            def report(done: int, _total: int, before: int = done_before) -> None:
                reporter(before + done, total, 0)

            with _named_failures(table):
                results[str(table.name)] = table.write(
                    os.path.join(folder, f"{table.name}{suffix}"),
                    format=format,
                    compression=compression,
                    progress=report if reporter is not None else False,
                )
            done_before += table.count
    finally:
        close_reporter()
    return results


def _put_in_place(temporary: str, path: str) -> None:
    """Renames the complete folder to its name; an existing folder there is replaced, removed
    only once the new one holds its name."""
    if not os.path.lexists(path):
        os.rename(temporary, path)
        return
    parent, base = os.path.split(path)
    old = tempfile.mkdtemp(dir=parent, prefix=f".{base}.", suffix=".old")
    os.rmdir(old)
    os.rename(path, old)
    try:
        os.rename(temporary, path)
    except BaseException:
        os.rename(old, path)
        raise
    if os.path.isdir(old) and not os.path.islink(old):
        shutil.rmtree(old)
    else:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(old)

