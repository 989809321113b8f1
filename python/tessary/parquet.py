"""Parquet files: a table's record batches written by pyarrow, a row group per group of batches,
through the routine that writes the text formats."""

from __future__ import annotations

import io
import itertools
from collections.abc import Iterator
from typing import Any

from tessary import _engine
from tessary.results import WriteResult

# Parquet files are written a row group per this many rows (or a little more): large enough for
# good compression and fast scans, small enough to bound the memory a group holds. Rows of long
# texts close a group at this many bytes of batches instead (or one batch more).
PARQUET_GROUP_ROWS = 1 << 20
PARQUET_GROUP_BYTES = 128 << 20


class _CountingFile(io.RawIOBase):
    """A binary file that passes what it is given on to a descriptor or a file object, counting
    and hashing it. The bytes go through the routine that writes the text formats: it goes on
    after short writes and refuses a write() that returns nonsense."""

    def __init__(self, target: Any, algorithm: str | None) -> None:
        self._target = target
        self._hash = _engine.Hasher(algorithm) if algorithm is not None else None
        self.count = 0

    def writable(self) -> bool:
        return True

    def write(self, data: Any) -> int:
        view = memoryview(data).cast("B")
        _engine.write_bytes(self._target, view)
        if self._hash is not None:
            self._hash.update(view)
        self.count += len(view)
        return len(view)

    def tell(self) -> int:
        return self.count

    def hexdigest(self) -> str | None:
        return self._hash.hexdigest() if self._hash is not None else None


def _sampled_batches(reader: Any) -> Iterator[Any]:
    """The batches of a reader on a generate_batches stream. Such a stream fails only where a
    sampler panicked (or memory ran out, a MemoryError): its I/O error becomes the
    PanicException that the text formats raise."""
    while True:
        try:
            batch = reader.read_next_batch()
        except StopIteration:
            return
        except OSError as error:
            raise _engine.panic_exception()(str(error)) from None
        yield batch


def repeating_columns(batch: Any) -> list[str]:
    """The columns worth a Parquet dictionary: those whose values repeat in the batch (one
    distinct value in 16 rows at most), such as choices and narrow integer ranges. Trying a
    dictionary on every column costs a third of the writer's time on columns of unique values
    (ids, doubles), which then fall back to plain pages anyway."""
    import pyarrow as pa  # type: ignore[import-untyped]
    import pyarrow.compute as pc  # type: ignore[import-untyped]

    limit = max(1, batch.num_rows // 16)
    repeating = []
    for field, column in zip(batch.schema, batch.columns, strict=True):
        if isinstance(column, pa.ExtensionArray):
            column = column.storage
        if isinstance(column, pa.DictionaryArray):
            column = column.indices
        if not pa.types.is_null(field.type) and pc.count_distinct(column).as_py() <= limit:
            repeating.append(field.name)
    return repeating


def write_parquet(
    target: Any, batches: Any, total: int, algorithm: str | None, reporter: Any
) -> WriteResult:
    """Writes the batches as one Parquet file, a row group per group of batches."""
    import pyarrow as pa
    import pyarrow.parquet as pq  # type: ignore[import-untyped]

    reader = pa.RecordBatchReader.from_stream(batches)
    sampled = _sampled_batches(reader)
    first = next(sampled)  # an empty range has one empty batch
    sink = _CountingFile(target, algorithm)
    done = 0
    with pq.ParquetWriter(sink, reader.schema, use_dictionary=repeating_columns(first)) as writer:
        group: list[pa.RecordBatch] = []
        rows = size = 0
        for batch in itertools.chain([first], sampled):
            group.append(batch)
            rows += batch.num_rows
            size += batch.nbytes
            if rows >= PARQUET_GROUP_ROWS or size >= PARQUET_GROUP_BYTES:
                writer.write_table(pa.Table.from_batches(group), row_group_size=rows)
                done += rows
                group, rows, size = [], 0, 0
                if reporter is not None:
                    reporter(done, total, sink.count)
        if group or done == 0:
            writer.write_table(pa.Table.from_batches(group, schema=reader.schema))
            done += rows
    if reporter is not None:
        reporter(done, total, sink.count)
    return WriteResult.of(done, 0, sink.count, sink.hexdigest(), None, algorithm)
