"""A data set as a Dask DataFrame, built from the columnar batches where it is computed."""

from __future__ import annotations

from typing import Any

import tessary
from tessary.dask.planning import plan_ranges, table_arguments


def dataframe(
    seed: int | tessary.Table,
    scale: int | None = None,
    specs_json: str | None = None,
    *,
    partitions: int | None = None,
) -> Any:
    """A ``dask.dataframe`` of the entities of ids 0 to scale - 1 (of a whole ``Table`` given in
    place of ``seed``, or of the arguments a Table takes), indexed by ``id`` with known
    divisions: one partition per id range (see :func:`plan_ranges`), built from the columnar
    batches where it is computed."""
    import dask.dataframe as dd

    seed, scale, specs_json = table_arguments(seed, scale, specs_json)
    ranges = plan_ranges(seed, scale, specs_json, partitions=partitions)
    meta = _range_frame((0, 0), seed, scale, specs_json)
    divisions = [start for start, _ in ranges] + [max(ranges[-1][1] - 1, ranges[-1][0])]
    return dd.from_map(  # type: ignore[no-untyped-call]
        _range_frame, ranges, args=(seed, scale, specs_json), meta=meta, divisions=divisions,
        label="tessary", enforce_metadata=False,
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


def _range_frame(id_range: tuple[int, int], seed: int, scale: int, specs_json: str) -> Any:
    """The entities of one id range as a pandas frame indexed by id (the first column), each
    column of the dtype that every partition and the empty meta frame share."""
    import pyarrow as pa

    start, stop = id_range
    stream = tessary.generate_batches(seed, scale, specs_json, start=start, stop=stop)
    table = pa.RecordBatchReader.from_stream(stream).read_all()
    frame = table.to_pandas(types_mapper=_pandas_dtype)
    ids = frame.iloc[:, 0].rename("id")
    frame = frame.iloc[:, 1:]
    frame.index = ids
    return frame
