"""The id ranges of a data set's parts, and their file names."""

from __future__ import annotations

import operator
from collections.abc import Mapping

import tessary
from tessary import _engine

# About this much uncompressed text per part by default: large enough that scheduling costs
# nothing beside the work, small enough that a lost part is cheap to redo.
PART_TEXT_BYTES = 128 * 10**6

# The default partitioning estimates the text per entity from this many entities at each of a
# few places spread over the range (ids grow longer towards the end).
SAMPLE_ENTITIES = 512
SAMPLE_WINDOWS = 3

# The most parts a data set may have: its manifest lists them all, and the caller plans and
# schedules every one. The default partitioning makes larger parts rather than more.
MAX_PARTITIONS = 100_000


def whole_table(
    seed: int | tessary.Table, scale: int | None, specs_json: str | None
) -> tessary.Table:
    """The whole Table given, or the one of those arguments. ValueError for a slice (a data set
    folder holds ids 0 to scale - 1) or a Table with arguments; TypeError for missing arguments."""
    if isinstance(seed, tessary.Table):
        table = seed
        if scale is not None or specs_json is not None:
            raise ValueError("give a Table, or seed, scale and specs_json, not both")
        if (table.start, table.stop) != (0, table.scale):
            raise ValueError(
                f"a data set holds a whole table: ids {table.start} to {table.stop} are a slice "
                f"of its 0 to {table.scale}"
            )
        return table
    if scale is None or specs_json is None:
        raise TypeError("give a Table, or seed, scale and specs_json")
    return tessary.Table(seed, scale, specs_json)


def table_option(
    value: int | Mapping[str, int] | None, table: tessary.Table, *, at_most_scale: bool = False
) -> int | None:
    """The value of a per-table option (partitions, rows_per_partition) for one table of a data
    set: the table's entry of a mapping, or the one value for every table, with at_most_scale
    no more than the table's scale allows (a table of 10 ids has at most 10 parts)."""
    if isinstance(value, Mapping):
        return value.get(str(table.name))
    if value is not None and at_most_scale:
        return min(operator.index(value), max(table.scale, 1))
    return value


def check_table_names(
    value: int | Mapping[str, int] | None, dataset: tessary.Dataset, option: str
) -> None:
    """ValueError for a mapping that names a table the data set does not hold."""
    if isinstance(value, Mapping):
        unknown = sorted(set(value) - set(dataset.tables))
        if unknown:
            raise ValueError(f"{option} names tables the data set does not hold: {unknown}")


def part_name(start: int, stop: int, format: str, compression: str | None) -> str:
    """The file name of the part holding the ids start to stop - 1."""
    return f"part-{start:020d}-{stop:020d}{_engine.output_suffix(format, compression)}"


def plan_ranges(
    seed: int | tessary.Table,
    scale: int | None = None,
    specs_json: str | None = None,
    *,
    partitions: int | None = None,
    rows_per_partition: int | None = None,
) -> list[tuple[int, int]]:
    """The id ranges of the parts, in order, covering 0 to scale, of a whole ``Table`` given in
    place of ``seed`` (a data set's, say), or of the arguments a Table takes.

    ``partitions`` ranges whose sizes differ by at most one, or ranges of ``rows_per_partition``
    ids (the last one shorter), or by default ranges of about 128 MB of text each (larger where
    that would make more than MAX_PARTITIONS). The default depends only on the table (its seed,
    scale and specs, or its data set), never on the cluster. A scale of 0 has one empty range.
    More than MAX_PARTITIONS ranges are refused with ValueError.
    """
    table = whole_table(seed, scale, specs_json)
    if partitions is not None and rows_per_partition is not None:
        raise ValueError("give partitions or rows_per_partition, not both")
    scale = table.scale
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
        rows_per_partition = max(default_rows_per_partition(table), fewest_rows)
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


def default_rows_per_partition(table: tessary.Table) -> int:
    """The ids of about PART_TEXT_BYTES of JSON Lines text, from a sample of the whole table."""
    scale = table.scale
    count = min(SAMPLE_ENTITIES, scale)
    if count == 0:
        return 1
    starts = sorted({w * (scale - count) // (SAMPLE_WINDOWS - 1) for w in range(SAMPLE_WINDOWS)})
    text = sum(len(table[start : start + count].text("jsonl").encode()) for start in starts)
    return max(1, PART_TEXT_BYTES * count * len(starts) // max(text, 1))
