"""The later kinds and members (keys, nulls, time, skewed counts, decimals) in every output: the
text and the typed columns agree value for value, slices join to the whole, on any thread count."""

import datetime
import json
import uuid

import pyarrow as pa
import pyarrow.parquet as pq
import pytest

import tessary
from helpers import table_digests_by_threads

LATER_KINDS = [
    {"name": "key", "type": "unique_int", "low": 1, "high": 10**6},
    {"name": "n", "type": "sequence", "start": -5, "step": 7, "null_rate": 0.1},
    {"name": "u", "type": "uuid", "null_rate": 0.1},
    {"name": "t", "type": "timestamp", "start": "1969-06-30T22:00:00-02:00",
     "end": "2021-06-30T23:59:59.999999Z", "unit": "us", "null_rate": 0.1},
    {"name": "ts", "type": "timestamp", "start": "2020-02-28T00:00:00Z",
     "end": "2020-03-01T00:00:00Z"},
    {"name": "d", "type": "date", "start": "1968-02-27", "end": "2024-03-02", "null_rate": 0.1},
    {"name": "b", "type": "bernoulli", "p": 0.3, "null_rate": 0.2},
    {"name": "e", "type": "exponential", "mean": 3, "decimals": 2, "null_rate": 0.1},
    {"name": "l", "type": "lognormal", "mu": 3, "sigma": 1, "decimals": 2},
    {"name": "p", "type": "poisson", "mean": 30, "null_rate": 0.1},
    {"name": "g", "type": "geometric", "p": 0.2},
    {"name": "z", "type": "zipf", "n": 100000, "s": 1.1, "null_rate": 0.1},
    {"name": "age", "type": "uniform_int", "low": 18, "high": 90, "null_rate": 0.1},
    {"name": "c", "type": "choice", "values": ["x", "y"], "null_rate": 0.5},
]
SPECS = json.dumps(LATER_KINDS)
SCALE = 5000

ARROW_TYPES = {
    "key": pa.int64(), "n": pa.int64(), "u": pa.uuid(), "t": pa.timestamp("us", tz="UTC"),
    "ts": pa.timestamp("s", tz="UTC"), "d": pa.date32(), "b": pa.bool_(), "e": pa.float64(),
    "l": pa.float64(), "p": pa.int64(), "g": pa.int64(), "z": pa.int64(), "age": pa.int64(),
}


# How the text of the time and UUID columns is parsed to compare with typed values.
PARSE_TEXT = {
    "t": datetime.datetime.fromisoformat,
    "ts": datetime.datetime.fromisoformat,
    "d": datetime.date.fromisoformat,
    "u": uuid.UUID,
}


def text_rows(table: tessary.Table) -> list[dict]:
    """json.loads of the JSON Lines text, with timestamps, dates and UUIDs parsed."""
    rows = [json.loads(line) for line in table.text("jsonl").splitlines()]
    for row in rows:
        for name, parse in PARSE_TEXT.items():
            if row.get(name) is not None:
                row[name] = parse(row[name])
    return rows


def assert_rows_match(typed_rows: list[dict], text: list[dict]) -> None:
    for row in typed_rows:
        if isinstance(row["u"], bytes):  # Polars shows a UUID as its 16 bytes
            row["u"] = uuid.UUID(bytes=row["u"])
    assert typed_rows == text


def test_slices_join_to_the_whole_and_columns_equal_the_text():
    table = tessary.Table(21, SCALE, SPECS)
    whole = table.text("jsonl")
    assert "".join(table[a:b].text("jsonl") for a, b in [(0, 1), (1, 1777), (1777, SCALE)]) == whole
    arrow = pa.table(table)
    assert {name: arrow.schema.field(name).type for name in ARROW_TYPES} == ARROW_TYPES
    assert not arrow.schema.field("key").nullable and arrow.schema.field("age").nullable
    text = text_rows(table)
    assert_rows_match(arrow.to_pylist(), text)
    assert 0 < arrow.column("age").null_count < SCALE // 5


def test_polars_and_duckdb_read_the_same_values():
    import duckdb
    import polars as pl

    entities = tessary.Table(22, 800, SPECS)
    text = text_rows(entities)
    assert_rows_match(pl.DataFrame(entities).to_dicts(), text)
    relation = duckdb.sql("select * from entities order by id")
    assert relation.types[relation.columns.index("u")] == "UUID"
    assert_rows_match(
        [dict(zip(relation.columns, row, strict=True)) for row in relation.fetchall()], text
    )


def test_parquet_keeps_the_types_and_stores_seconds_as_milliseconds(tmp_path):
    table = tessary.Table(23, 300, SPECS)
    path = tmp_path / "later.parquet"
    table.write(path)
    read = pq.read_table(path)
    assert read.schema.field("ts").type == pa.timestamp("ms", tz="UTC")
    assert read.schema.field("u").type == pa.uuid()
    assert read.schema.field("d").type == pa.date32()
    assert_rows_match(read.to_pylist(), text_rows(table))


@pytest.mark.slow
def test_text_and_columns_are_the_same_on_1_2_and_8_threads():
    outputs = table_digests_by_threads(24, 60_000, SPECS, ["1", "2", "8"])
    assert outputs[0] == outputs[1] == outputs[2]


def test_unique_int_gives_every_value_of_its_domain_once():
    for size in [*range(1, 301), 4096, 4097]:
        specs = json.dumps([{"name": "k", "type": "unique_int", "low": -size, "high": -1}])
        values = pa.table(tessary.Table(size, size, specs)).column("k").to_pylist()
        assert sorted(values) == list(range(-size, 0)), size


def test_unique_int_slices_written_apart_share_no_value():
    specs = json.dumps([{"name": "k", "type": "unique_int", "low": 0, "high": 10**12}])
    table = tessary.Table(5, 10**9, specs)
    first = {row["k"] for row in text_rows(table[:20_000])}
    last = {row["k"] for row in text_rows(table[10**9 - 20_000:])}
    assert len(first) == len(last) == 20_000 and not first & last


def test_null_rate_changes_no_other_attribute_and_keeps_the_values_that_stay():
    plain = text_rows(tessary.Table(8, 2000, SPECS))
    specs = [dict(spec) for spec in LATER_KINDS]
    specs[9]["null_rate"] = 0.5  # p
    specs[10]["null_rate"] = 0.3  # g
    nulled = text_rows(tessary.Table(8, 2000, json.dumps(specs)))
    for before, after in zip(plain, nulled, strict=True):
        for name in ("p", "g"):
            assert after[name] in (None, before[name])
        assert {k: v for k, v in after.items() if k not in ("p", "g")} == {
            k: v for k, v in before.items() if k not in ("p", "g")
        }
    assert 800 < sum(row["p"] is None for row in nulled) < 1200


def test_generate_entities_keeps_the_original_language():
    with pytest.raises(ValueError, match="unknown variant `zipf`, expected one of `uniform_int`, "
                       "`uniform_float`, `normal`, `choice` at line 1 column 39"):
        tessary.generate_entities(1, 1, '[{"name":"z","type":"zipf","n":3,"s":1}]')
    specs = '[{"name":"a","type":"uniform_float","low":0,"high":1,"decimals":1,"null_rate":1}]'
    assert tessary.generate_entities(1, 1, specs) == tessary.Table(1, 1, specs.replace(
        ',"decimals":1,"null_rate":1', "")).text()


@pytest.mark.parametrize(
    ("spec", "message"),
    [
        # A fault inside a time text is placed at its byte; the others at the object's end.
        ('{"name":"t","type":"timestamp","start":"2021-13-01T00:00:00Z","end":"2022-01-01T00:00:00Z"}',
         #                                            ^ column 47 (after the "[")
         "attribute `t`: `start`: month 13 is not 01 to 12 at line 1 column 47"),
        ('{"name":"t","type":"timestamp","start":"2021-01-01T00:00:00Z","end":"2021-01-01T00:00:60Z"}',
         #                                                                                  ^ 88
         "attribute `t`: `end`: leap seconds (:60) are not supported at line 1 column 88"),
        ('{"name":"d","type":"date","start":"2021-02-29","end":"2022-01-01"}',
         #                                           ^ column 45
         "attribute `d`: `start`: day 29 does not exist in February 2021 at line 1 column 45"),
        ('{"name":"t","type":"timestamp","start":"2021-01-01T00:00:00.5Z","end":"2021-01-01T00:00:00.9Z"}',
         'attribute `t`: `start` to `end` holds no instant at the unit "s" at line 1 column 96'),
        ('{"name":"t","type":"timestamp","start":"2021-01-01T00:00:00Z","end":"2021-01-01T00:00:00Z",'
         '"unit":"ns"}',
         'attribute `t`: `unit` must be "s", "ms" or "us", not "ns" at line 1 column 104'),
        ('{"name":"b","type":"bernoulli","p":1.5}',
         "attribute `b`: `p` must be a number from 0 to 1, not 1.5 at line 1 column 40"),
        ('{"name":"z","type":"zipf","n":0,"s":1}',
         "attribute `z`: `n` must be an integer from 1 to 2^53, not 0 at line 1 column 39"),
        ('{"name":"a","type":"uniform_int","low":0,"high":1,"null_rate":-0.1}',
         "attribute `a`: `null_rate` must be a number from 0 to 1, not -0.1 at line 1 column 68"),
        ('{"name":"a","type":"normal","mean":0,"std_dev":1,"decimals":16}',
         "attribute `a`: `decimals` must be an integer from 0 to 15, not 16 at line 1 column 64"),
    ],
)
def test_bad_parameters_name_the_attribute_the_member_and_the_place(spec, message):
    with pytest.raises(ValueError) as caught:
        tessary.Table(1, 10, f"[{spec}]")
    assert str(caught.value) == message


@pytest.mark.parametrize(
    ("spec", "scale", "message"),
    [
        ({"type": "unique_int", "low": 1, "high": 10}, 11,
         "attribute `k`: `low` to `high` holds 10 values, fewer than the table's scale 11"),
        ({"type": "sequence", "start": 2**63 - 11, "step": 1}, 12,
         "attribute `k`: `step` 1 from `start` 9223372036854775797 leaves int64 before id 11, "
         "the table's last"),
    ],
)
def test_a_table_refuses_a_scale_its_keys_cannot_hold(spec, scale, message):
    specs = json.dumps([{"name": "k", **spec}])
    tessary.Table(1, scale - 1, specs)
    with pytest.raises(ValueError) as caught:
        tessary.Table(1, scale, specs)
    assert str(caught.value) == message


def test_check_specs_warns_of_what_generate_entities_reads_otherwise():
    specs = json.dumps([
        {"name": "a", "type": "uniform_int", "low": 0, "high": 1, "null_rate": 0.5, "null_rat": 1},
        {"name": "z", "type": "zipf", "n": 3, "s": 1},
    ])
    found = [(p.severity, p.message) for p in tessary.check_specs(specs)]
    assert found == [
        ("warning", "generate_entities ignores the member `null_rate`, which every other output "
                    "honours"),
        ("warning", "nothing reads the member `null_rat` of a `uniform_int`"),
    ]
