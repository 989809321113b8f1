"""Columnar output: generate_batches read by Arrow consumers, and Parquet files from write."""

from __future__ import annotations

import gc
import json
import math
import os
import re
import threading

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

import tessary
from helpers import resident_kib, run_python

pa = pytest.importorskip("pyarrow")
pq = pytest.importorskip("pyarrow.parquet")

INT64 = (-(2**63), 2**63 - 1)

# One spec of every column type, a repeated name and non-ASCII names and strings.
EVERY_KIND = [
    {"name": "age", "type": "uniform_int", "low": 18, "high": 80},
    {"name": "größe", "type": "normal", "mean": 1e308, "std_dev": 1e308},  # some values overflow
    {"name": "score", "type": "uniform_float", "low": -1, "high": 1},
    {"name": "city", "type": "choice", "values": ["Zürich", "東京", "Zürich", None, ""]},
    {"name": "member", "type": "choice", "values": [True, False, None], "weights": [1, 2, 1]},
    {"name": "nothing", "type": "choice", "values": [None]},
    {"name": "tags", "type": "choice", "values": [["a", 1], {"k": None}, "x", 2.5, None]},
    {"name": "size", "type": "choice", "values": [1, 2.5, -0.0, None]},
    {"name": "age", "type": "choice", "values": [9007199254740993, -4]},  # the last spec types it
]

# A pick that lands on a weight without a value fails, here rarely: the two specs fail with
# different messages, so the message tells which entity failed first.
LATE_FAILURE = json.dumps([
    {"name": "a", "type": "choice", "values": [1], "weights": [1, 1e-4]},
    {"name": "b", "type": "choice", "values": [1, 2], "weights": [1, 1, 1e-4]},
])


def column_type(spec: dict) -> pa.DataType:
    """The column type the schema rules give a name whose last spec is `spec`."""
    if spec["type"] == "uniform_int":
        return pa.int64()
    if spec["type"] in ("uniform_float", "normal"):
        return pa.float64()
    values = [value for value in spec["values"] if value is not None]
    if not values:
        return pa.null()
    if all(type(value) is bool for value in values):
        return pa.bool_()
    if all(type(value) is str for value in values):
        return pa.dictionary(pa.int32(), pa.utf8())
    if all(type(value) is int and INT64[0] <= value <= INT64[1] for value in values):
        return pa.int64()
    if all(
        type(value) is float or (type(value) is int and float(value) == value) for value in values
    ):
        return pa.float64()
    return pa.json_(pa.utf8())


def same(actual: object, expected: object) -> bool:
    """Equal and of the same type all the way down; a float's sign of zero counts."""
    if type(actual) is not type(expected):
        return False
    if isinstance(expected, float):
        return actual == expected and math.copysign(1, actual) == math.copysign(1, expected)
    if isinstance(expected, list):
        return len(actual) == len(expected) and all(map(same, actual, expected))
    if isinstance(expected, dict):
        return list(actual) == list(expected) and all(
            same(actual[k], expected[k]) for k in expected
        )
    return actual == expected


def as_json_value(cell: object, kind: pa.DataType) -> object:
    """A cell as the JSON output's value: a JSON text column's cell is parsed."""
    if cell is None:
        return None
    if kind == pa.json_(pa.utf8()):
        return json.loads(cell)
    return cell


# Spec lists: a few names (so that names repeat), each kind with wide parameters.
names = st.sampled_from(["a", "b", "größe", "名前", ""])
ints = st.integers(*INT64)
finite = st.floats(allow_nan=False, allow_infinity=False)
json_scalars = st.none() | st.booleans() | ints | finite | st.text(max_size=3)
json_values = st.recursive(
    json_scalars,
    lambda inner: (
        st.lists(inner, max_size=3) | st.dictionaries(st.text(max_size=2), inner, max_size=3)
    ),
    max_leaves=6,
)
choice_values = st.one_of(
    st.lists(ints | st.none()),
    st.lists(st.integers(-(2**63), 2**64 - 1) | finite | st.none()),  # exact doubles or JSON text
    st.lists(
        st.sampled_from(["FR", "DE", "ß", "日本", "", "a\x00b"]) | st.text(max_size=3) | st.none()
    ),
    st.lists(st.booleans() | st.none()),
    st.lists(st.none(), max_size=2),
    st.lists(json_values, min_size=1),
)


@st.composite
def specs(draw) -> dict:
    name = draw(names)
    kind = draw(st.sampled_from(["uniform_int", "uniform_float", "normal", "choice"]))
    if kind == "uniform_int":
        low, high = sorted(draw(st.tuples(ints, ints)))
        return {"name": name, "type": kind, "low": low, "high": high}
    if kind == "uniform_float":
        low, high = sorted(
            draw(
                st.tuples(st.floats(-1e9, 1e9), st.floats(-1e9, 1e9)).filter(lambda p: p[0] != p[1])
            )
        )
        return {"name": name, "type": kind, "low": low, "high": high}
    if kind == "normal":
        mean, std_dev = draw(
            st.sampled_from([(1e308, 1e308), (-1e308, 1e308)])
            | st.tuples(finite, st.floats(0, 1e6))
        )
        spec = {"name": name, "type": kind, "mean": mean, "std_dev": std_dev}
        spec.update(
            draw(
                st.fixed_dictionaries(
                    {}, optional={"min": finite | st.none(), "max": finite | st.none()}
                )
            )
        )
        return spec
    values = draw(choice_values)
    spec = {"name": name, "type": kind, "values": values}
    if draw(st.booleans()):
        spec["weights"] = draw(
            st.lists(st.floats(0.5, 10), min_size=len(values), max_size=len(values))
        )
    return spec


@st.composite
def ranges(draw) -> tuple[int, int, int]:
    scale = draw(st.integers(0, 60))
    start = draw(st.integers(0, scale))
    return scale, start, draw(st.integers(start, scale))


@settings(max_examples=150, deadline=None)
@given(st.lists(specs(), max_size=7), st.integers(0, 2**64 - 1), ranges(), st.integers(1, 9))
@example(EVERY_KIND, 3, (40, 7, 33), 4)
def test_batches_hold_the_values_of_the_json_output(spec_list, seed, scale_range, batch_rows):
    scale, start, stop = scale_range
    text = json.dumps(spec_list, ensure_ascii=False)
    table = pa.table(
        tessary.generate_batches(seed, scale, text, start=start, stop=stop, batch_rows=batch_rows)
    )

    last_spec = {spec["name"]: spec for spec in spec_list}
    kinds = {name: column_type(spec) for name, spec in last_spec.items()}
    assert table.schema.names == ["id", *last_spec]  # a name's column where its first spec is
    assert table.schema.types == [pa.uint64(), *kinds.values()]
    expected = json.loads(tessary.generate_entities(seed, scale, text))[start:stop]
    rows = table.to_pylist()
    assert len(rows) == len(expected)
    for row, entity in zip(rows, expected, strict=True):
        assert list(row) == list(entity)
        for name, cell in row.items():
            value = entity[name]
            if kinds.get(name) == pa.float64() and type(value) is int:
                value = float(value)  # a float64 choice column mixing integers and doubles
            assert same(as_json_value(cell, kinds.get(name)), value), (name, cell, value)


@pytest.mark.parametrize(
    ("specs_json", "message"),
    [
        ('[{"name":"a","type":"uniform_int","low":1,"high":2},{"name":"id","type":"choice","values":[1]}]',
         'specs[1] is named "id", the name of the id column that begins every batch'),
        ('[{"name":"x\\u0000y","type":"uniform_int","low":1,"high":2}]',
         'specs[0]\'s name "x\\u0000y" holds U+0000, which a column name cannot hold'),
    ],
)
def test_names_a_table_cannot_hold_are_refused_at_the_call(specs_json, message):
    with pytest.raises(ValueError, match="^" + re.escape(message)):
        tessary.generate_batches(1, 10, specs_json)


def expected_aggregates(table: pa.Table) -> dict[str, object]:
    """One aggregate per column: numbers summed, other columns' values counted."""
    import pyarrow.compute as pc

    return {
        name: pc.sum(column).as_py()
        if pa.types.is_integer(column.type) or pa.types.is_floating(column.type)
        else len(column) - column.null_count
        for name, column in zip(table.column_names, table.columns, strict=True)
    }


def polars_aggregates(batches) -> tuple[int, dict[str, object]]:
    import polars as pl

    frame = pl.DataFrame(batches)
    return frame.height, {
        name: frame[name].sum() if frame[name].dtype.is_numeric() else frame[name].count()
        for name in frame.columns
    }


def pandas_aggregates(batches) -> tuple[int, dict[str, object]]:
    import pandas as pd

    frame = pd.DataFrame.from_arrow(batches)
    return len(frame), {
        name: frame[name].sum()
        if pd.api.types.is_numeric_dtype(frame[name].dtype)
        and not pd.api.types.is_bool_dtype(frame[name].dtype)
        else frame[name].count()
        for name in frame.columns
    }


def duckdb_aggregates(batches) -> tuple[int, dict[str, object]]:
    import duckdb

    relation = duckdb.sql("select * from batches")
    numeric = {"BIGINT", "UBIGINT", "DOUBLE"}
    aggregates = [
        f'{"sum" if str(kind) in numeric else "count"}("{name}")'
        for name, kind in zip(relation.columns, relation.types, strict=True)
    ]
    count, *values = duckdb.sql(
        f"select count(*), {', '.join(aggregates)} from batches"
    ).fetchall()[0]
    return count, dict(zip(relation.columns, values, strict=True))


@pytest.mark.parametrize(
    "read",
    [polars_aggregates, pandas_aggregates, duckdb_aggregates],
    ids=["polars", "pandas", "duckdb"],
)
def test_dataframe_libraries_read_the_same_table(read):
    # Sums that stay finite and within int64.
    specs_json = json.dumps(
        [
            dict(spec, mean=170, std_dev=15) if spec["type"] == "normal" else spec
            for spec in EVERY_KIND[:-1]
        ]
    )
    table = pa.table(tessary.generate_batches(5, 50_000, specs_json, start=123, batch_rows=7_000))
    rows, aggregates = read(
        tessary.generate_batches(5, 50_000, specs_json, start=123, batch_rows=7_000)
    )
    assert rows == table.num_rows == 50_000 - 123
    expected = expected_aggregates(table)
    assert list(aggregates) == list(expected)
    for name, value in expected.items():
        assert float(aggregates[name]) == pytest.approx(value, rel=1e-9), name


def test_a_parquet_file_holds_the_table(tmp_path):
    specs_json = json.dumps(EVERY_KIND)
    result = tessary.write(tmp_path / "t.parquet", 11, 1_200_000, specs_json, start=5)
    table = pa.table(tessary.generate_batches(11, 1_200_000, specs_json, start=5))
    written = pq.read_table(tmp_path / "t.parquet")
    assert written.schema == table.schema
    assert written.equals(table)
    # A group per million rows or so.
    assert pq.ParquetFile(tmp_path / "t.parquet").metadata.num_row_groups == 2
    assert (result.entities, result.bytes_written) == (
        table.num_rows,
        os.path.getsize(tmp_path / "t.parquet"),
    )


def test_a_failed_parquet_write_leaves_no_file_and_keeps_the_old_one(tmp_path):
    with pytest.raises(tessary.PanicException) as failed_call:
        tessary.generate_entities(1, 1_000_000, LATE_FAILURE)
    (tmp_path / "old.parquet").write_bytes(b"old")
    for name in ("new.parquet", "old.parquet"):
        with pytest.raises(tessary.PanicException) as failed_write:
            tessary.write(tmp_path / name, 1, 1_000_000, LATE_FAILURE)
        assert str(failed_write.value) == str(failed_call.value)
    assert os.listdir(tmp_path) == ["old.parquet"]
    assert (tmp_path / "old.parquet").read_bytes() == b"old"


def test_a_late_failure_reaches_the_consumer_with_the_lowest_failing_entitys_message():
    messages = []
    for start in (0, 5886):  # with seed 1, spec "a" fails first at entity 5885, then spec "b"
        with pytest.raises(tessary.PanicException) as failed_text:
            for _ in tessary.iter_text(1, 1_000_000, LATE_FAILURE, start=start):
                pass
        # Small batches: many fail, later ones possibly before the first failing one is built.
        batches = tessary.generate_batches(1, 1_000_000, LATE_FAILURE, start=start, batch_rows=500)
        with pytest.raises(OSError) as failed:
            pa.table(batches)
        assert str(failed.value) == str(failed_text.value)
        messages.append(str(failed.value))
    assert messages[0] != messages[1]


def test_a_stream_is_consumed_once():
    batches = tessary.generate_batches(1, 10, json.dumps(EVERY_KIND))
    assert pa.table(batches).num_rows == 10
    with pytest.raises(ValueError, match="consumed once; call generate_batches"):
        pa.table(batches)
    assert (
        pa.schema(batches)
        == pa.table(tessary.generate_batches(1, 0, json.dumps(EVERY_KIND))).schema
    )


BATCHES_IN_A_CHILD = """
import hashlib, json, sys, pyarrow as pa, tessary
reader = pa.RecordBatchReader.from_stream(
    tessary.generate_batches(9, 700_000, sys.argv[1], start=3)
)
sink = pa.BufferOutputStream()
lengths = []
with pa.ipc.new_stream(sink, reader.schema) as writer:
    for batch in reader:
        lengths.append(batch.num_rows)
        writer.write_batch(batch)
print(lengths, hashlib.sha256(sink.getvalue()).hexdigest())
"""


@pytest.mark.slow
def test_batches_are_the_same_on_one_and_two_threads():
    outputs = []
    for threads in ("1", "2"):
        child = run_python(
            BATCHES_IN_A_CHILD.replace("sys.argv[1]", repr(json.dumps(EVERY_KIND))),
            {"RAYON_NUM_THREADS": threads},
        )
        assert child.returncode == 0, child.stderr
        outputs.append(child.stdout)
    assert outputs[0] == outputs[1]
    assert outputs[0].count(",") >= 2  # several batches


@pytest.mark.skipif(not os.path.exists("/proc/self/status"), reason="needs /proc")
@pytest.mark.slow
def test_a_stream_released_half_way_from_another_thread_frees_everything():
    def read_some_and_release_elsewhere() -> None:
        batches = tessary.generate_batches(2, 10**9, json.dumps(EVERY_KIND), batch_rows=50_000)
        reader = pa.RecordBatchReader.from_stream(batches)
        for _ in range(3):
            reader.read_next_batch()
        holder = [reader]
        del reader, batches
        releaser = threading.Thread(target=holder.clear)  # the last reference goes there
        releaser.start()
        releaser.join()

    for _ in range(10):  # warm up: pool, allocator arenas
        read_some_and_release_elsewhere()
    gc.collect()
    before = resident_kib()
    for _ in range(40):
        read_some_and_release_elsewhere()
    gc.collect()
    # A stream keeps about 20 MB of batches in flight: one leaked per run would show 800 MB.
    assert resident_kib() - before < 40_000
