"""The Table: one read of the specs, consumed many ways, the same entities every way."""

from __future__ import annotations

import io
import json
from concurrent.futures import ThreadPoolExecutor

import duckdb
import polars
import pyarrow
import pytest

import tessary
from helpers import AGE_SPECS, FIVE_SPECS, decompress

U64_MAX = 2**64 - 1


def rows_of_text(text: str) -> list[dict[str, object]]:
    return [json.loads(line) for line in text.splitlines()]


def every_output(table: tessary.Table) -> dict[str, object]:
    """The range as each output gives it: JSON Lines bytes, or the rows where the output is
    a JSON array or Arrow columns."""
    file = io.BytesIO()
    table.write(file, format="jsonl", compression="zstd")
    chunks = b"".join(table.iter_text(compression="gzip", level=1))
    return {
        "text": table.text("jsonl"),
        "chunks": decompress(chunks, "gzip").decode(),
        "written": decompress(file.getvalue(), "zstd").decode(),
        "array rows": json.loads(table.text()),
        "arrow rows": pyarrow.table(table.batches(batch_rows=97)).to_pylist(),
    }


def test_every_output_of_a_table_used_from_many_threads_gives_the_same_entities():
    table = tessary.Table(7, 3_000, FIVE_SPECS)
    expected = tessary.generate_entities(7, 3_000, FIVE_SPECS)
    assert table.text() == expected  # the whole range of an original document
    with ThreadPoolExecutor(8) as pool:
        results = list(pool.map(lambda _: every_output(table), range(16)))
    rows = json.loads(expected)
    for outputs in results:
        for name, output in outputs.items():
            assert output == (rows if name.endswith("rows") else results[0]["text"]), name
    assert rows_of_text(results[0]["text"]) == rows


@pytest.mark.parametrize(
    ("scale", "cuts"),
    [
        (1_000, [slice(None, 10), slice(10, -500), slice(-500, -1), slice(-1, None)]),
        (1_000, [slice(-5000, 3), slice(3, 3), slice(3, 2000)]),  # clamped and empty pieces
        (U64_MAX, [slice(-7, -3), slice(-3, None)]),  # the last ids there are
    ],
)
def test_slices_concatenate_to_the_whole(scale, cuts):
    table = tessary.Table(11, scale, AGE_SPECS)
    pieces = [table[cut] for cut in cuts]
    first = cuts[0].indices(scale)[0]
    whole = tessary.iter_text(11, scale, AGE_SPECS, start=first, stop=pieces[-1].stop)
    assert "".join(piece.text("jsonl") for piece in pieces) == b"".join(whole).decode()
    assert sum(piece.count for piece in pieces) == pieces[-1].stop - first


def test_slicing_rules():
    table = tessary.Table(1, U64_MAX, AGE_SPECS)
    with pytest.raises(OverflowError):
        len(table)
    assert table.count == U64_MAX and table[5:][2:4].start == 7
    assert not table[3:3] and len(table[-2:]) == 2
    with pytest.raises(ValueError, match="step of 2"):
        table[::2]
    with pytest.raises(TypeError, match="sliced, not indexed"):
        table[0]
    with pytest.raises(TypeError, match="not iterated"):
        iter(table)
    assert "age (uniform_int)" in repr(table)


@pytest.mark.parametrize(
    "read",
    [
        lambda t: pyarrow.table(t).to_pylist(),
        lambda t: polars.DataFrame(t).to_dicts(),
        lambda t: duckdb.sql("from t order by id").to_arrow_table().to_pylist(),
    ],
    ids=["pyarrow", "polars", "duckdb"],
)
def test_arrow_consumers_read_the_table_and_read_it_again(read):
    table = tessary.Table(3, 500, FIVE_SPECS)[100:300]
    expected = json.loads(table.text())
    assert read(table) == expected
    assert read(table) == expected  # a new stream on every call


def test_spec_errors_raise_at_construction_and_parameter_failures_where_entities_are_built(
    tmp_path,
):
    with pytest.raises(ValueError, match="line 1 column"):
        tessary.Table(1, 10, '[{"name":"a","type":"uniform_int","low":1}')
    bad = tessary.Table(1, 10, '[{"name":"a","type":"uniform_int","low":5,"high":1}]')
    for build in (bad.text, bad.check_first_entity, lambda: bad.write(tmp_path / "x.jsonl")):
        with pytest.raises(tessary.PanicException, match="cannot sample empty range"):
            build()
    assert list(tmp_path.iterdir()) == []  # nothing created for a document that fails there
    assert bad[3:3].text() == "[]"  # no entity, nothing that fails
