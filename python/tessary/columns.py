"""Columnar output: the entities as Arrow record batches, for Polars, pyarrow, pandas and DuckDB.

``generate_batches`` returns an object that implements the Arrow PyCapsule interface, so Arrow
consumers read it without copying::

    pyarrow.table(batches)                      # or pyarrow.RecordBatchReader.from_stream(...)
    polars.DataFrame(batches)
    pandas.DataFrame.from_arrow(batches)         # pandas 3; else pyarrow.table(...).to_pandas()
    duckdb.sql("select count(*) from batches")

The batches are built in parallel as the consumer pulls them, in id order, with memory bounded by
the batches in flight. pyarrow is needed only to write Parquet (``tessary[arrow]``).
"""

from __future__ import annotations

from tessary._engine import Batches
from tessary.table import Table


def generate_batches(
    seed: int,
    scale: int,
    specs_json: str,
    *,
    start: int = 0,
    stop: int | None = None,
    batch_rows: int | None = None,
) -> Batches:
    """The entities with ids ``start`` to ``stop - 1`` as Arrow record batches.

    The schema is fixed by the attribute specs alone: ``id`` (uint64) first, then one column per
    distinct name, at its first spec's position, holding its last spec's values. The arguments
    and specs are checked at the call (``ValueError`` for a spec error, a spec named "id" or a
    name holding U+0000); a spec that fails while sampling makes the consumer raise when it
    reaches the failing batch, with the message of the lowest failing entity. The stream can be
    consumed once; ``close()`` (or a ``with`` block) cancels the batches in flight.
    """
    return Table(seed, scale, specs_json, start=start, stop=stop).batches(batch_rows=batch_rows)
