"""Tables as Dask DataFrames, built from the columnar batches where they are computed."""

from __future__ import annotations

from collections.abc import Mapping
from typing import Any

import tessary
from tessary.dask.planning import check_table_names, plan_ranges, table_option, whole_table


def dataframe(
    seed: int | tessary.Table,
    scale: int | None = None,
    specs_json: str | None = None,
    *,
    partitions: int | None = None,
) -> Any:
    """A ``dask.dataframe`` of the entities of ids 0 to scale - 1 (of a whole ``Table`` given in
    place of ``seed``, a data set's too, or of the arguments a Table takes), indexed by ``id``
    with known divisions: one partition per id range (see :func:`plan_ranges`), built from the
    columnar batches where it is computed."""
    return _table_frame(whole_table(seed, scale, specs_json), partitions)


def dataframes(
    ds: tessary.Dataset, *, partitions: int | Mapping[str, int] | None = None
) -> dict[str, Any]:
    """The ``dask.dataframe`` of every table of the data set, by name, as :func:`dataframe`
    makes it. ``partitions`` is one value for every table (capped at each table's scale) or a
    mapping of table names to values (the tables it leaves out partitioned by default)."""
    check_table_names(partitions, ds, "partitions")
    return {
        name: _table_frame(ds[name], table_option(partitions, ds[name], at_most_scale=True))
        for name in ds.tables
    }


def _table_frame(table: tessary.Table, partitions: int | None) -> Any:
    import dask.dataframe as dd

    ranges = plan_ranges(table, partitions=partitions)
    divisions = [start for start, _ in ranges] + [max(ranges[-1][1] - 1, ranges[-1][0])]
    # Each partition's slice travels as its arguments, or its data set and name.
    return dd.from_map(  # type: ignore[no-untyped-call]
        _range_frame, [table[start:stop] for start, stop in ranges], meta=_range_frame(table[0:0]),
        divisions=divisions, label="tessary", enforce_metadata=False,
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


def _range_frame(part: tessary.Table) -> Any:
    """The entities of one slice as a pandas frame indexed by id (the first column), each
    column of the dtype that every partition and the empty meta frame share."""
    import pyarrow as pa

    table = pa.RecordBatchReader.from_stream(part.batches()).read_all()
    frame = table.to_pandas(types_mapper=_pandas_dtype)
    ids = frame.iloc[:, 0].rename("id")
    frame = frame.iloc[:, 1:]
    frame.index = ids
    return frame
