"""The Table: a specs document read once, a seed and an id range, consumed many ways.

A Table is immutable and cheap to keep; slices share its read specs, and any number of outputs
(text, files, iterators of chunks, Arrow batches) can be taken from it, from any thread at once.
It is itself an Arrow stream producer, so Arrow consumers read it directly::

    table = tessary.Table(42, 1_000_000, specs_json)
    table[:10].text()                   # the JSON text of the first ten entities
    table.write("people.jsonl.zst")     # a compressed file, streamed
    pyarrow.table(table)                # or polars.DataFrame(table), duckdb.sql("from table")
"""

from __future__ import annotations

from typing import TYPE_CHECKING, NoReturn

from tessary import _engine
from tessary.checking import SpecProblem

if TYPE_CHECKING:
    from tessary.writing import Progress, Target, WriteResult

# How many attributes repr() names before it only counts the rest.
REPR_ATTRIBUTES = 6


class Table(_engine.Table):
    """The entities with ids ``start`` to ``stop - 1`` of the data set of ``scale`` entities that
    ``seed`` and the specs document ``specs_json`` describe.

    ``Table(seed, scale, specs_json, *, start=0, stop=None)`` reads the specs at once: a
    malformed document raises ``ValueError`` here, and nothing is built. A sampling parameter that
    cannot be used (``high`` below ``low``) raises ``PanicException`` where the entities are
    built, as ``generate_entities`` does.

    ``t[a:b]`` is the Table of ids ``start + a`` to ``start + b - 1`` (Python's slice rules, on
    integers of any size); ``len(t)`` and ``t.count`` are ``stop - start``.
    """

    __slots__ = ()

    def __len__(self) -> int:
        return self.count  # OverflowError past sys.maxsize, as len(range(...)) raises

    def __bool__(self) -> bool:
        return self.count > 0

    def __getitem__(self, key: slice) -> Table:
        if not isinstance(key, slice):
            raise TypeError(
                "a Table is sliced, not indexed: t[i:i + 1] is the Table of entity start + i, "
                "and t[i:i + 1].text() its JSON text"
            )
        if key.step not in (None, 1):
            raise ValueError(
                f"a Table slice takes consecutive ids: a step of {key.step} is refused"
            )
        first, last, _ = key.indices(self.count)
        return self._range(self.start + first, self.start + max(first, last))

    def __iter__(self) -> NoReturn:
        raise TypeError(
            "a Table is not iterated entity by entity: use t.text(), t.iter_text() for chunks "
            "of bytes, or t.batches() for Arrow record batches"
        )

    def __repr__(self) -> str:
        attributes = self.attributes()
        shown = ", ".join(f"{name} ({kind})" for name, kind in attributes[:REPR_ATTRIBUTES])
        if len(attributes) > REPR_ATTRIBUTES:
            shown += f", +{len(attributes) - REPR_ATTRIBUTES} more"
        table = "" if self.name is None else f" {self.name!r} of a data set,"
        return (
            f"<tessary.Table{table} seed={self.seed} ids [{self.start}, {self.stop}) of "
            f"{self.scale}: {shown or 'no attributes'}>"
        )

    def __reduce__(self) -> tuple[object, ...]:
        # Pickled as its arguments (for Dask workers): the specs are read again on arrival, a data
        # set's table with its whole data set.
        if self.dataset is not None:
            return (_rebuild_from_dataset, (self.dataset, self.name, self.start, self.stop))
        return (_rebuild, (self.seed, self.scale, self.specs_json, self.start, self.stop))

    def iter_text(
        self, *, format: str = "jsonl", compression: str | None = None, level: int | None = None
    ) -> _engine.TextChunks:
        """The bytes :meth:`write` would write, in ordered chunks built as they are consumed.
        Entity ``start`` is built at the call; closing or dropping the iterator cancels the work
        in flight."""
        return self._chunks(format, compression, level)

    def batches(self, *, batch_rows: int | None = None) -> _engine.Batches:
        """The range as Arrow record batches (an Arrow PyCapsule stream object, consumed once).

        The schema is fixed by the specs alone: ``id`` (uint64) first, then one column per
        distinct name, at its first spec's position, holding its last spec's values. A spec named
        "id" or a name holding U+0000 raises ``ValueError`` here."""
        return self._batches(batch_rows)

    def write(
        self,
        target: Target,
        *,
        format: str | None = None,
        compression: str | None = None,
        level: int | None = None,
        digest: bool | str = False,
        progress: Progress = False,
    ) -> WriteResult:
        """Write the range to a path or a binary file object; see :func:`tessary.write`."""
        from tessary.writing import write_table

        return write_table(
            self, target, format=format, compression=compression, level=level, digest=digest,
            progress=progress,
        )

    def check(self) -> list[SpecProblem]:
        """The problems of the table's specs, as :func:`tessary.check_specs` finds them."""
        return [SpecProblem(*problem) for problem in self.problems()]

def _rebuild(seed: int, scale: int, specs_json: str, start: int, stop: int) -> Table:
    return Table(seed, scale, specs_json, start=start, stop=stop)


def _rebuild_from_dataset(dataset: _engine.Dataset, name: str, start: int, stop: int) -> Table:
    table: Table = dataset._table(Table, name)
    return table._range(start, stop)
