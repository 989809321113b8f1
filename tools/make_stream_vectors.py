#!/usr/bin/env python3
"""Writes python/tessary/data/stream_vectors.json: the published cases of the stream contract.

Each case is a seed, a specs document (its text, byte for byte: the reader's number conversion is
part of the contract) and an id range; the file records the SHA-256 of the range's JSON text, the
full text of its first entities and the sampler paths the case is meant to take. The C++ tests
replay every entity and confirm each claimed path, so a case that stopped covering its path fails
there.

Rare paths are found by search rather than by luck: a full-range uniform_int returns one raw draw,
so the specs [S, RAW] against [RAW, RAW, ...] tell how many draws S took for every entity, and the
entity found is moved to id 0 by its seed (entity i under seed s draws what entity 0 draws under
seed s + i).

The file is the contract of tessary.STREAM_VERSION: regenerate it only together with a new version
(and a CHANGELOG.md entry). Run from the repository root with the package installed:
    .venv/bin/python tools/make_stream_vectors.py
"""

from __future__ import annotations

import hashlib
import json
from pathlib import Path
from typing import Any

import tessary
from tessary.vectors import range_text, split_entities

TARGET = Path(__file__).resolve().parent.parent / "python" / "tessary" / "data" / "stream_vectors.json"
FIRST_SHOWN = 3  # entities whose full text each case lists
U64 = 2**64

RAW = {"name": "raw", "type": "uniform_int", "low": -(2**63), "high": 2**63 - 1}


def dumps(value: Any) -> str:
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"))


def as_text(specs: list[dict[str, Any]] | str) -> str:
    return specs if isinstance(specs, str) else dumps(specs)


def steps_of(spec: dict[str, Any], seed: int, count: int, most: int) -> list[tuple[int, int]]:
    """(steps S took, first raw draw) for entities 0 .. count - 1 under seed; entities whose S took
    more than `most` steps are left out."""
    raws = json.loads(tessary.generate_entities(seed, count, dumps([dict(RAW, name=f"r{k}") for k in range(most + 1)])))
    after = json.loads(tessary.generate_entities(seed, count, dumps([spec, RAW])))
    found = []
    for draws, entity in zip(raws, after, strict=True):
        sequence = [draws[f"r{k}"] for k in range(most + 1)]
        if entity["raw"] in sequence:
            found.append((sequence.index(entity["raw"]), sequence[0] % U64))
    return found


def seed_where(spec: dict[str, Any], wanted, most: int = 8, chunk: int = 100_000) -> int:
    """The smallest seed (from 1, counting in chunks) whose entity 0 takes `wanted(steps, draw)`."""
    base = 1
    while True:
        for index, (steps, draw) in enumerate(steps_of(spec, base, chunk, most)):
            if wanted(steps, draw):
                return base + index
        base += chunk


def make_case(name: str, seed: int, specs: list[dict[str, Any]] | str, start: int, stop: int,
              paths: list[str], *, package: bool = False) -> dict[str, Any]:
    text = as_text(specs)
    array = range_text(seed, start, stop, text, package=package)
    case = {
        "name": name,
        "seed": seed,
        "specs": text,
        "start": start,
        "stop": stop,
        "sha256": hashlib.sha256(array.encode("utf-8")).hexdigest(),
        "first": split_entities(array)[:FIRST_SHOWN],
        "paths": paths,
    }
    if package:
        case["language"] = "package"
    return case


def package_case(name: str, seed: int, specs: list[dict[str, Any]] | str, start: int, stop: int,
                 paths: list[str]) -> dict[str, Any]:
    """A case of the package's language: kinds or members that generate_entities does not read."""
    return make_case(name, seed, specs, start, stop, paths, package=True)


def normal(name: str, mean: float = 0.0, std_dev: float = 1.0, **bounds: float) -> dict[str, Any]:
    return {"name": name, "type": "normal", "mean": mean, "std_dev": std_dev, **bounds}


def uniform_int(name: str, low: int, high: int) -> dict[str, Any]:
    return {"name": name, "type": "uniform_int", "low": low, "high": high}


def uniform_float(name: str, low: float, high: float) -> dict[str, Any]:
    return {"name": name, "type": "uniform_float", "low": low, "high": high}


def choice(name: str, values: list[Any], weights: list[float] | None = None) -> dict[str, Any]:
    spec: dict[str, Any] = {"name": name, "type": "choice", "values": values}
    if weights is not None:
        spec["weights"] = weights
    return spec


def searched_cases() -> list[dict[str, Any]]:
    """Cases whose entity 0 takes a rare path, found by search."""
    z = normal("z")
    many = choice("pick", list(range(4000)))
    tail = seed_where(z, lambda steps, draw: draw & 0xFF == 0 and steps == 3)
    retry = seed_where(z, lambda steps, draw: draw & 0xFF == 0 and steps >= 5)
    wedge_reject = seed_where(z, lambda steps, draw: draw & 0xFF != 0 and steps >= 3)
    correction = seed_where(many, lambda steps, draw: steps == 2, most=2)
    return [
        make_case("normal: the tail, accepted at its first try", tail, [z, RAW], 0, 2,
                  ["normal.tail", "uniform_int.full_range"]),
        make_case("normal: the tail, rejected and tried again", retry, [z, RAW], 0, 2,
                  ["normal.tail", "normal.tail_retry"]),
        make_case("normal: a wedge test that rejects, then a new attempt", wedge_reject, [z, RAW], 0, 2,
                  ["normal.wedge_reject"]),
        make_case("choice without weights: the correction draw (4000 values)", correction, [many, RAW], 0, 2,
                  ["choice.uniform_correction", "choice.uniform"]),
    ]


def plain_cases() -> list[dict[str, Any]]:
    age = uniform_int("age", 18, 80)
    five = [
        age,
        uniform_float("score", 0.0, 1.0),
        normal("iq", 100.0, 15.0),
        choice("pick", [10, 20, 30]),
        choice("weighted", [10, 20, 30], [1.0, 2.0, 3.0]),
    ]
    every_kind = [
        uniform_int("i", -1000, 10**12),
        uniform_float("f", -1.5, 2.5),
        normal("n", 10, 3, min=4, max=16),
        choice("c", ["a", {"x": [1, 2.5]}, None, True, -7]),
        choice("w", ["été", "b"], [0.3, 0.7]),
    ]
    return [
        # Worked examples and whole-call texts.
        make_case("seed 42: the ages 58, 52, 69, 31, 64", 42, [age], 0, 5, ["uniform_int.one_draw"]),
        make_case("seed 7: one spec of each kind", 7, five, 0, 3,
                  ["uniform_int.one_draw", "uniform_float.draw", "normal.main", "choice.uniform",
                   "choice.weighted"]),
        make_case("every kind over many blocks of the pipeline", 99, every_kind, 0, 20_000,
                  ["normal.main", "normal.wedge_accept", "normal.wedge_reject", "normal.clamp_min",
                   "normal.clamp_max", "choice.weighted", "choice.uniform"]),
        make_case("no specs: ids only", 5, [], 0, 4, ["specs.none"]),
        make_case("an empty range", 5, [age], 0, 0, ["range.empty"]),
        make_case("seed 0", 0, five, 0, 50, ["uniform_int.one_draw", "normal.main"]),
        make_case("seed 2^64 - 3: seed + id wraps", U64 - 3, five, 0, 6, ["uniform_int.one_draw"]),
        make_case("a range from the middle", 5, every_kind, 1000, 1100, ["choice.weighted"]),
        make_case("ids just below 2^64", 11, every_kind, U64 - 6, U64 - 1, ["ids.top_of_u64"]),
        # uniform_int
        make_case("uniform_int: equal bounds still draw", 3, [uniform_int("a", 7, 7), RAW], 0, 20,
                  ["uniform_int.one_draw", "uniform_int.full_range"]),
        make_case("uniform_int: negative bounds", 3, [uniform_int("a", -1000, -1)], 0, 50, ["uniform_int.one_draw"]),
        make_case("uniform_int: the extreme single values", 3,
                  [uniform_int("lo", -(2**63), -(2**63)), uniform_int("hi", 2**63 - 1, 2**63 - 1)], 0, 5,
                  ["uniform_int.one_draw"]),
        make_case("uniform_int: the full i64 range is one raw draw", 3, [RAW], 0, 50, ["uniform_int.full_range"]),
        make_case("uniform_int: 2^64 - 1 values, a correction about every other draw", 4,
                  [uniform_int("a", -(2**63), 2**63 - 2), uniform_int("b", 0, 100)], 0, 40,
                  ["uniform_int.correction", "uniform_int.one_draw"]),
        make_case("uniform_int: 2^63 values, a power of two, never correct", 4, [uniform_int("a", 0, 2**63 - 1)],
                  0, 40, ["uniform_int.one_draw"]),
        make_case("uniform_int: 2^63 + 1 values", 4, [uniform_int("a", -1, 2**63 - 1)], 0, 40,
                  ["uniform_int.correction", "uniform_int.one_draw"]),
        # uniform_float
        make_case("uniform_float: subnormal range", 6, [uniform_float("t", 5e-324, 1e-322)], 0, 30,
                  ["uniform_float.tiny_range"]),
        make_case("uniform_float: a range of one ulp at 1", 6, [uniform_float("t", 1.0, 1.0000000000000002)], 0, 30,
                  ["uniform_float.draw"]),
        make_case("uniform_float: huge symmetric range", 6, [uniform_float("h", -8e307, 8e307)], 0, 30,
                  ["uniform_float.huge_range"]),
        make_case("uniform_float: up to the largest double", 6, [uniform_float("h", 0.0, 1.7976931348623157e308)],
                  0, 30, ["uniform_float.huge_range"]),
        make_case("uniform_float: a rounded scale (1 + 1e-300)", 6, [uniform_float("r", -1e-300, 1.0)], 0, 30,
                  ["uniform_float.rounded_scale"]),
        make_case("uniform_float: a rounded scale across magnitudes", 6,
                  [uniform_float("r", 0.1, 0.7), uniform_float("s", -3.0e-5, 1e10)], 0, 30,
                  ["uniform_float.rounded_scale"]),
        make_case("uniform_float: numbers of every exponent form", 6,
                  [uniform_float("a", 1e-10, 1e-9), uniform_float("b", 1e20, 1e21),
                   uniform_float("c", 123456.0, 123457.0), uniform_float("d", -1e-5, -1e-6)], 0, 30,
                  ["uniform_float.draw"]),
        # normal
        make_case("normal: main layer and wedge tests", 8, [normal(f"z{k}") for k in range(4)], 0, 500,
                  ["normal.main", "normal.wedge_accept", "normal.wedge_reject"]),
        make_case("normal: clamped on both sides", 8, [normal("n", 100.0, 15.0, min=90.0, max=110.0)], 0, 40,
                  ["normal.clamp_min", "normal.clamp_max"]),
        make_case("normal: min above max gives max", 8, [normal("n", 0.0, 1.0, min=10.0, max=5.0)], 0, 10,
                  ["normal.min_above_max", "normal.clamp_min"]),
        make_case("normal: overflow is null", 8, [normal("n", 1e308, 1e308)], 0, 20,
                  ["normal.overflow_null", "normal.main"]),
        make_case("normal: overflow clamped, to -0.0 below", 8, [normal("n", 1e308, 1e308, min=-0.0, max=1e300)],
                  0, 20, ["normal.clamp_min", "normal.clamp_max", "normal.negative_zero"]),
        make_case("normal: signed zeros from a zero std_dev", 8, [normal("n", -0.0, 0.0)], 0, 20,
                  ["normal.negative_zero"]),
        make_case("normal: -0.0 stays under a min of 0.0", 8, [normal("n", -0.0, 0.0, min=0.0)], 0, 20,
                  ["normal.zero_at_bound", "normal.negative_zero"]),
        make_case("normal: 0.0 stays under a max of -0.0", 8, [normal("n", 0.0, 0.0, max=-0.0)], 0, 20,
                  ["normal.zero_at_bound"]),
        make_case("normal: negative std_dev", 8, [normal("n", 5.0, -2.0)], 0, 20, ["normal.main"]),
        make_case("normal: large mean", 8, [normal("n", 1e15, 1e-3)], 0, 20, ["normal.main"]),
        # choice
        make_case("choice: values of every kind, objects in key order", 9,
                  [choice("c", [None, True, False, 0, -5, 2.5, 1e300, "s", [], {}, [1, [2, {"b": 1, "a": 2}]],
                                {"z": 1, "a": {"y": None, "b": "x"}, "": 0}])], 0, 40,
                  ["choice.uniform"]),
        make_case("choice: no values is null and takes no draw", 9,
                  [choice("none", []), choice("none_weighted", [], [1.0]), RAW], 0, 10,
                  ["choice.empty", "uniform_int.full_range"]),
        make_case("choice: one value", 9, [choice("one", ["only"]), RAW], 0, 5, ["choice.uniform"]),
        make_case("choice: zero weights are passed over", 9, [choice("w", ["a", "b", "c"], [0, 0, 1])], 0, 20,
                  ["choice.weighted", "choice.zero_weight_passed"]),
        make_case("choice: all weights zero picks the first", 9, [choice("w", ["a", "b", "c"], [0, 0, 0])], 0, 10,
                  ["choice.zero_total"]),
        make_case("choice: -0.0 weights", 9, [choice("w", ["a", "b"], [-0.0, 1.0]),
                                              choice("v", ["a", "b"], [-0.0, -0.0])], 0, 10,
                  ["choice.zero_weight_passed", "choice.zero_total"]),
        make_case("choice: negative weights", 9, [choice("w", ["a", "b", "c"], [-1.0, 2.0, 0.5]),
                                                  choice("v", ["a", "b"], [2.0, -1.0])], 0, 30,
                  ["choice.negative_weight"]),
        make_case("choice: fewer weights than values", 9, [choice("w", ["a", "b", "c"], [1.0])], 0, 10,
                  ["choice.weighted"]),
        make_case("choice: subnormal and huge weights", 9,
                  [choice("t", ["a", "b"], [5e-324, 1e-323]), choice("h", ["a", "b"], [1e308, 7e307])], 0, 30,
                  ["choice.weighted"]),
        make_case("choice: twenty weights, past the first block of eight", 9,
                  [choice("w", list(range(20)), [0.0] * 9 + [1.0] * 11)], 0, 30,
                  ["choice.weighted", "choice.zero_weight_passed"]),
        # names, text and the document
        make_case("non-ASCII names and values", 10,
                  [uniform_int("âge", 0, 9), choice("名前", ["東京", "Zürich", "😀", "e\u0301"]),
                   choice("ключ", [{"é": "ß"}])], 0, 20, ["text.non_ascii", "choice.uniform"]),
        make_case("escaped names and values", 10,
                  [uniform_int('q"uote', 0, 9), choice("b\\s", ["tab\t", "nl\n", "\u0001\u001f", "/\u007f", '"']),
                   uniform_int("c\u0000", 1, 2)], 0, 20, ["text.escapes"]),
        make_case("a repeated name keeps its first place and last value", 10,
                  [uniform_int("a", 0, 9), uniform_float("b", 0.0, 1.0), normal("a", 0.0, 1.0)], 0, 20,
                  ["names.repeated"]),
        make_case("a spec named id", 10, [uniform_int("id", 100, 200)], 0, 5, ["uniform_int.one_draw"]),
        make_case("the reader's own number conversion and type indices", 10,
                  '[{"name":"a","type":1,"low":0.1,"high":0.30000000000000004441},'
                  '{"name":"b","type":2,"mean":1E2,"std_dev":123456789012345678901234567890e-29},'
                  '{"name":"c","type":0,"low":-5,"high":10},'
                  '{"name":"d","type":3,"values":[1.0,-0.0,100e-2,0.000001],"weights":[1e-1,2E-1,3e-1,4e-1]}]',
                  0, 30, ["uniform_float.draw", "normal.main", "choice.weighted"]),
    ]


def timestamp(name: str, start: str, end: str, unit: str = "s", **more: Any) -> dict[str, Any]:
    return {"name": name, "type": "timestamp", "start": start, "end": end, "unit": unit, **more}


def date(name: str, start: str, end: str, **more: Any) -> dict[str, Any]:
    return {"name": name, "type": "date", "start": start, "end": end, **more}


def kind(name: str, type_: str, **members: Any) -> dict[str, Any]:
    return {"name": name, "type": type_, **members}


def package_cases() -> list[dict[str, Any]]:
    """Cases of the kinds and members that only the package reads (stream version 2)."""
    later = [
        kind("key", "unique_int", low=1, high=10**6),
        kind("n", "sequence", start=-5, step=7, null_rate=0.1),
        kind("u", "uuid", null_rate=0.1),
        timestamp("t", "1969-06-30T22:00:00-02:00", "1970-06-30T23:59:59.999Z", "ms", null_rate=0.1),
        date("d", "1968-02-27", "1968-03-02", null_rate=0.1),
        kind("b", "bernoulli", p=0.3, null_rate=0.2),
        kind("e", "exponential", mean=3, decimals=2, null_rate=0.1),
        kind("l", "lognormal", mu=3, sigma=1, decimals=2),
        kind("p", "poisson", mean=4, null_rate=0.1),
        kind("q", "poisson", mean=30),
        kind("g", "geometric", p=0.2),
        kind("z", "zipf", n=10**5, s=1.1, null_rate=0.1),
        kind("c", "choice", values=["a", "b", None], null_rate=0.25),
    ]
    degenerate = [
        kind("p0", "poisson", mean=0), kind("z1", "zipf", n=1, s=2), kind("b0", "bernoulli", p=0),
        kind("b1", "bernoulli", p=1), kind("g1", "geometric", p=1), RAW,
    ]
    original = [uniform_int("i", -1000, 10**12), uniform_float("f", -1.5, 2.5),
                normal("n", 10, 3, min=4, max=16), choice("c", ["a", {"x": [1, 2.5]}, None, True, -7])]
    return [
        package_case("every later kind, with nulls, over many blocks", 21, later, 0, 20_000,
                     ["sequence.value", "unique_int.one_pass", "unique_int.cycle_walk", "uuid.draw",
                      "timestamp.before_1970", "date.before_1970", "date.leap_day", "bernoulli.draw",
                      "exponential.draw", "lognormal.draw", "poisson.inversion", "poisson.ptrs",
                      "poisson.ptrs_retry", "geometric.draw", "zipf.first_try", "zipf.retry",
                      "nulls.null"]),
        package_case("a range of the later kinds from the middle", 21, later, 7000, 7100, ["nulls.null"]),
        package_case("degenerate parameters still draw", 22, degenerate, 0, 20,
                     ["poisson.inversion", "zipf.first_try", "bernoulli.draw", "geometric.draw",
                      "uniform_int.full_range"]),
        package_case("unique_int over a domain of one value", 22,
                     [kind("one", "unique_int", low=-7, high=-7), RAW], 0, 1,
                     ["unique_int.one_pass", "uniform_int.full_range"]),
        package_case("unique_int over a domain of exactly the scale", 23,
                     [kind("k", "unique_int", low=1, high=1000)], 0, 1000,
                     ["unique_int.one_pass", "unique_int.cycle_walk"]),
        package_case("unique_int over all of int64, ids just below 2^64", 23,
                     [kind("k", "unique_int", low=-(2**63), high=2**63 - 1), kind("s", "sequence", start=0, step=0)],
                     U64 - 6, U64 - 1, ["unique_int.one_pass", "ids.top_of_u64", "sequence.value"]),
        package_case("sequence from the bottom of int64", 23,
                     [kind("s", "sequence", start=-(2**63), step=1), kind("r", "sequence", step=-(10**17))], 0, 50,
                     ["sequence.value"]),
        package_case("timestamps at both ends of time, in every unit", 24,
                     [timestamp("a", "0001-01-01T00:00:00Z", "0001-01-01T00:00:01Z"),
                      timestamp("b", "9999-12-31T23:59:59.998Z", "9999-12-31T23:59:59.999999Z", "us"),
                      timestamp("c", "0001-01-01T01:00:00.0001+01:00", "0001-01-01T00:00:00.002Z", "ms"),
                      date("d", "0001-01-01", "0001-01-02"), date("e", "9999-12-30", "9999-12-31")], 0, 30,
                     ["timestamp.before_1970", "date.before_1970"]),
        package_case("leap days and offsets across midnight", 24,
                     [timestamp("t", "2000-02-28T23:00:00-01:00", "2000-03-01T00:59:59+01:00", "us"),
                      date("d", "2020-02-28", "2020-03-01"), date("e", "1900-02-28", "1900-03-01")], 0, 60,
                     ["timestamp.leap_day", "date.leap_day", "date.before_1970"]),
        package_case("poisson at small, large and the largest means", 25,
                     [kind("a", "poisson", mean=0.5), kind("b", "poisson", mean=9.99),
                      kind("c", "poisson", mean=10), kind("d", "poisson", mean=10**6),
                      kind("e", "poisson", mean=10**9)], 0, 200,
                     ["poisson.inversion", "poisson.ptrs", "poisson.ptrs_retry"]),
        package_case("zipf skews and sizes", 25,
                     [kind("a", "zipf", n=10**5, s=0.7), kind("b", "zipf", n=10**5, s=1),
                      kind("c", "zipf", n=10**5, s=2.5), kind("d", "zipf", n=2**53, s=0.01),
                      kind("e", "zipf", n=2, s=50)], 0, 200, ["zipf.first_try", "zipf.retry"]),
        package_case("geometric down to its least p", 25,
                     [kind("a", "geometric", p=0.5), kind("b", "geometric", p=1e-6),
                      kind("c", "geometric", p=4e-18)], 0, 50, ["geometric.draw"]),
        package_case("decimals, ties to even and zeros without a sign", 26,
                     [uniform_float("f", -1.0, 1.0) | {"decimals": 0}, uniform_float("g", 0.0, 100.0) | {"decimals": 2},
                      normal("n", -0.0, 0.4) | {"decimals": 0}, normal("m", 5.0, 1.0, max=5.999) | {"decimals": 2},
                      kind("l", "lognormal", mu=0, sigma=2, decimals=15), kind("x", "exponential", mean=1e20, decimals=3),
                      uniform_float("h", 1e300, 1e301) | {"decimals": 15}], 0, 100,
                     ["uniform_float.draw", "normal.main", "normal.clamp_max", "lognormal.draw",
                      "exponential.draw"]),
        package_case("null_rate 1 on the original kinds: all null, the draws still taken", 27,
                     [spec | {"null_rate": 1} for spec in original] + [RAW], 0, 20,
                     ["nulls.null", "uniform_int.full_range"]),
        package_case("null_rate 0 writes what no null_rate writes", 27,
                     [spec | {"null_rate": 0} for spec in original], 0, 40, ["uniform_int.one_draw"]),
    ]


def derived_cases() -> list[dict[str, Any]]:
    """Cases of the kinds that read earlier attributes, and of patterns and hidden attributes."""
    people = [
        choice("first", ["Ana", "Bo", "Chlo\u00e9", 'D"Arcy'], [4, 3, 2, 1]) | {"hidden": True},
        choice("last", ["Silva", "Ng", "M\u00fcller"]) | {"hidden": True},
        kind("email", "template", template="{first:lower}.{last:upper}@example.com"),
        kind("phone", "pattern", pattern="\\+1-[2-9]\\d{2}-\\d{3}-\\d{4}"),
        choice("job", ["engineer", "nurse", "teacher", "chef"]),
        kind("salary", "switch", on="job", cases=[
            {"when": "engineer", "then": {"type": "normal", "mean": 90000, "std_dev": 9000, "decimals": 2}},
            {"when": ["nurse", "teacher"], "then": {"type": "uniform_int", "low": 40000, "high": 60000,
                                                    "null_rate": 0.2}}]),
        kind("bonus", "expression", expression="round(salary * 0.1, 2) + id / 4"),
        kind("order", "template", template="ORD-{id:08d}-{{{job}}}"),
        kind("tier", "const", value={"level": 2, "tags": ["a", None]}),
        kind("n", "expression", expression="id * 3 - 1", **{"as": "int"}) | {"hidden": True},
        kind("code", "template", template="{n:05d}/{tier}/{salary}"),
    ]
    switches = [
        uniform_int("k", 0, 4),
        kind("s", "switch", on="k", cases=[
            {"when": [0, 1.0], "then": {"type": "uuid"}},
            {"when": 2, "then": {"type": "switch", "on": "k", "cases": [
                {"when": 2, "then": {"type": "zipf", "n": 100, "s": 1.5}}]}},
            {"when": 3, "then": {"type": "const", "value": None}}],
             default={"type": "poisson", "mean": 30, "null_rate": 0.5}),
        RAW,
    ]
    patterns = [
        kind("a", "pattern", pattern="[A-Z]{3}-\\d{2,6}(x|yy|)\\."),
        kind("b", "pattern", pattern="[^a-z]?[\u03b1-\u03c9]{1,3}\\w\\s."),
        kind("c", "pattern", pattern="fixed text"),
        RAW,
    ]
    expressions = [
        uniform_float("a", -10.0, 10.0), normal("b", 0.0, 1e6), kind("c", "poisson", mean=3),
        kind("x", "expression", expression="(a * b - c / 3) * -2 + max(a, b, c) - min(a, 0.5) / (abs(b) + 1)"),
        kind("y", "expression", expression="round(sqrt(abs(a)) * exp(a / 5) + log(c), 3)"),
        kind("z", "expression", expression="floor(b / 7) + ceil(a) + id", **{"as": "int"}),
        kind("w", "expression", expression="1 / (c - c)"),
    ]
    return [
        package_case("people: templates, a pattern, switches, expressions, hidden names", 31, people, 0, 3000,
                     ["pattern.draw", "template.fields", "switch.case", "switch.no_case", "expression.value",
                      "expression.null", "const.value", "names.hidden", "text.non_ascii", "text.escapes"]),
        package_case("switches: numbers by value, a nested switch, a null case, the default", 32, switches, 0, 200,
                     ["switch.case", "switch.default", "uniform_int.one_draw", "uniform_int.full_range"]),
        package_case("patterns: quantifiers, classes, alternation, Unicode", 33, patterns, 0, 300,
                     ["pattern.draw", "uniform_int.full_range"]),
        package_case("expressions in double arithmetic, as int, and a null from 0/0", 34, expressions, 0, 300,
                     ["expression.value", "expression.null", "uniform_float.draw", "normal.main",
                      "poisson.inversion"]),
    ]


def main() -> None:
    cases = plain_cases() + searched_cases() + package_cases() + derived_cases()
    vectors = {
        "stream_version": tessary.STREAM_VERSION,
        "generator": "tools/make_stream_vectors.py",
        "about": "For each case: the SHA-256 of the JSON text of the entities with ids start .. stop - 1 "
        "(\"[\", the entity objects joined by \",\", \"]\"), under seed and the specs document; the text "
        "of its first entities; the sampler paths it takes. A case with \"language\": \"package\" uses "
        "kinds or members that only the package reads (not generate_entities).",
        "cases": cases,
    }
    TARGET.parent.mkdir(parents=True, exist_ok=True)
    TARGET.write_text(json.dumps(vectors, ensure_ascii=False, indent=1) + "\n", encoding="utf-8")
    print(f"{TARGET.name}: {len(cases)} cases")


if __name__ == "__main__":
    main()
