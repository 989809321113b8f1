"""Tessary against the tools its users would otherwise pick, measured side by side in one run.

The job: N entities, each with an `id` and five attributes (an integer uniform in 18..80, a double
uniform in 0..1, a normal double with mean 100 and standard deviation 15, a choice among 10, 20
and 30, and the same choice weighted 1:2:3), returned as one JSON text of an array of objects.

Every tool does that job in one small function below, written the way its users would write it.
Each tool's text is parsed and checked once per size (outside the timing) so that no tool is
measured doing less. The sizes are measured one after another; within a size, every round times
each tool once, starting from a different tool each round, and the table shows medians.

A tool that would need more than a minute at a size (judged from its time at the previous size)
is measured at a smaller size instead, and the table says so; Tessary is then measured at that
size too, so that its ratio compares equal work.

Prints the table and writes docs/performance.md with its chart, docs/performance.png.
Run: python bench/peers.py [--rounds R] [--sizes N ...] [--docs DIR]
"""

from __future__ import annotations

import argparse
import gc
import itertools
import json
import math
import os
import random
import statistics
import sys
import time
from collections import OrderedDict
from pathlib import Path

import numpy as np
import orjson
import polars as pl
from faker import Faker
from mimesis import Field, Schema
from peers_report import (
    Measurement,
    Results,
    Tool,
    check_targets,
    console_table,
    draw_chart,
    reduced_size,
    table_cells,
    write_report,
)

import tessary

SEED = 7
SIZES = (1_000, 100_000, 1_000_000)
LIMIT_SECONDS = 60.0
KEYS = ("id", "age", "score", "height", "pick", "weighted")
VALUES = [10, 20, 30]
WEIGHTS = [1.0, 2.0, 3.0]
PROBABILITIES = [w / sum(WEIGHTS) for w in WEIGHTS]
CUMULATIVE_WEIGHTS = list(itertools.accumulate(WEIGHTS))

# The reference document of the five-spec example; the peers below do what it says (and the check
# of every tool's text, check_entities, holds Tessary to the same keys, ranges and distributions).
SPECS_JSON = (
    (Path(__file__).resolve().parents[1] / "examples" / "five_specs.json").read_text().strip()
)


# --- the tools ---------------------------------------------------------------------------------


def with_tessary(n: int, seed: int) -> str:
    return tessary.generate_entities(seed, n, SPECS_JSON)


def with_python(n: int, seed: int) -> str:
    rng = random.Random(seed)
    rows = [
        {
            "id": i,
            "age": rng.randint(18, 80),
            "score": rng.random(),
            "height": rng.gauss(100.0, 15.0),
            "pick": rng.choice(VALUES),
            "weighted": rng.choices(VALUES, cum_weights=CUMULATIVE_WEIGHTS)[0],
        }
        for i in range(n)
    ]
    return json.dumps(rows, separators=(",", ":"))


def with_numpy_orjson(n: int, seed: int) -> str:
    rng = np.random.default_rng(seed)
    columns = zip(
        range(n),
        rng.integers(18, 80, size=n, endpoint=True).tolist(),
        rng.random(n).tolist(),
        rng.normal(100.0, 15.0, n).tolist(),
        rng.choice(VALUES, n).tolist(),
        rng.choice(VALUES, n, p=PROBABILITIES).tolist(),
        strict=True,
    )
    rows = [
        {"id": i, "age": age, "score": score, "height": height, "pick": pick, "weighted": weighted}
        for i, age, score, height, pick, weighted in columns
    ]
    return orjson.dumps(rows).decode()


def with_numpy_polars(n: int, seed: int) -> str:
    rng = np.random.default_rng(seed)
    frame = pl.DataFrame(
        {
            "id": np.arange(n),
            "age": rng.integers(18, 80, size=n, endpoint=True),
            "score": rng.random(n),
            "height": rng.normal(100.0, 15.0, n),
            "pick": rng.choice(VALUES, n),
            "weighted": rng.choice(VALUES, n, p=PROBABILITIES),
        }
    )
    return frame.write_json()


def with_mimesis(n: int, seed: int) -> str:
    field = Field(seed=seed)
    # Mimesis has no normal or weighted pick; custom handlers get its seeded random instance.
    field.register_handler("normal", lambda random, mean, std_dev: random.gauss(mean, std_dev))
    field.register_handler(
        "weighted_choice", lambda random, items, weights: random.choices(items, weights)[0]
    )
    ids = itertools.count()
    schema = Schema(
        schema=lambda: {
            "id": next(ids),
            "age": field("integer_number", start=18, end=80),
            "score": field("float_number", start=0.0, end=1.0),
            "height": field("normal", mean=100.0, std_dev=15.0),
            "pick": field("choice", items=VALUES),
            "weighted": field("weighted_choice", items=VALUES, weights=WEIGHTS),
        },
        iterations=n,
    )
    return json.dumps(schema.create(), separators=(",", ":"))


# A program makes its Faker once (loading the providers takes tens of milliseconds) and seeds it.
FAKE = Faker()
WEIGHTED_VALUES = OrderedDict(zip(VALUES, WEIGHTS, strict=True))


def with_faker(n: int, seed: int) -> str:
    fake = FAKE
    fake.seed_instance(seed)
    rows = [
        {
            "id": i,
            "age": fake.random_int(18, 80),
            "score": fake.pyfloat(min_value=0, max_value=1),
            "height": fake.random.gauss(100.0, 15.0),
            "pick": fake.random_element(VALUES),
            "weighted": fake.random_element(WEIGHTED_VALUES),
        }
        for i in range(n)
    ]
    return json.dumps(rows, separators=(",", ":"))


# The floor: a str of Tessary's byte length made from bytes already in memory.
FLOOR_BYTES: dict[int, bytes] = {}


def floor_str(n: int, seed: int) -> str:
    return FLOOR_BYTES[n].decode("ascii")


TESSARY = Tool(
    "Tessary", with_tessary, "`tessary.generate_entities(seed, n, specs_json)`", role="tessary"
)
FLOOR = Tool(
    "floor: str from bytes",
    floor_str,
    '`bytes.decode("ascii")` of a text of Tessary\'s length',
    role="floor",
)
PEERS = [
    Tool(
        "Python random + json",
        with_python,
        "`random.Random` per row (`randint`, `random`, `gauss`, `choice`, `choices` with "
        "cumulative weights), `json.dumps` with compact separators",
    ),
    Tool(
        "NumPy + orjson",
        with_numpy_orjson,
        "one `Generator` call per column (`integers`, `random`, `normal`, `choice`), rows built in "
        "Python from `tolist()` columns, `orjson.dumps`",
    ),
    Tool(
        "NumPy + Polars",
        with_numpy_polars,
        "the same NumPy columns in a `polars.DataFrame`, `write_json()` (row-oriented)",
    ),
    Tool(
        "Mimesis",
        with_mimesis,
        "`Schema` of `Field` calls (`integer_number`, `float_number`, `choice`, and registered "
        "handlers for the normal and the weighted pick), `json.dumps`",
    ),
    Tool(
        "Faker",
        with_faker,
        "one seeded `Faker` (`random_int`, `pyfloat`, `random.gauss`, `random_element`, weighted "
        "`random_element`), `json.dumps`",
    ),
]
TOOLS = [TESSARY, FLOOR, *PEERS]


# --- checking that every tool does the whole job -----------------------------------------------


def check_entities(name: str, text: str, n: int) -> None:
    """Raises AssertionError unless text is a JSON array of n objects with ids 0..n-1 and the five
    attributes, each of the right kind, in range, and plausibly distributed."""
    entities = json.loads(text)
    assert isinstance(entities, list) and len(entities) == n, f"{name}: expected {n} entities"
    for i, entity in enumerate(entities):
        assert isinstance(entity, dict) and len(entity) == 6 and set(entity) == set(KEYS), (
            f"{name}: keys {entity}"
        )
        assert type(entity["id"]) is int and entity["id"] == i, f"{name}: id {entity['id']} at {i}"
        assert type(entity["age"]) is int and 18 <= entity["age"] <= 80, (
            f"{name}: age {entity['age']}"
        )
        assert type(entity["score"]) is float and 0.0 <= entity["score"] <= 1.0, (
            f"{name}: score {entity['score']}"
        )
        assert type(entity["height"]) is float and math.isfinite(entity["height"]), (
            f"{name}: height"
        )
        assert type(entity["pick"]) is int and entity["pick"] in VALUES, (
            f"{name}: pick {entity['pick']}"
        )
        assert type(entity["weighted"]) is int and entity["weighted"] in VALUES, f"{name}: weighted"
    if n < 1000:
        return
    # Loose bounds (many standard errors wide at n = 1000) that still catch a wrong distribution.
    column = {key: [entity[key] for entity in entities] for key in KEYS[1:]}
    checks = {
        "age mean": (statistics.fmean(column["age"]), 49.0, 3.0),
        "score mean": (statistics.fmean(column["score"]), 0.5, 0.05),
        "height mean": (statistics.fmean(column["height"]), 100.0, 3.0),
        "height sd": (statistics.pstdev(column["height"]), 15.0, 2.0),
    }
    for key, weights in (("pick", [1, 1, 1]), ("weighted", WEIGHTS)):
        for value, weight in zip(VALUES, weights, strict=True):
            share = column[key].count(value) / n
            checks[f"{key} share of {value}"] = (share, weight / sum(weights), 0.06)
    for what, (got, expected, tolerance) in checks.items():
        assert abs(got - expected) <= tolerance, (
            f"{name}: {what} is {got:.4f}, expected {expected} ± {tolerance}"
        )


# --- measuring ---------------------------------------------------------------------------------


def timed(tool: Tool, size: int) -> tuple[float, str]:
    gc.collect()
    start = time.perf_counter()
    text = tool.run(size, SEED)
    return time.perf_counter() - start, text


def measure_column(n: int, rounds: int, limit_seconds: float, results: Results) -> None:
    """Measures every tool for the column of size n, alternating the tools within each round."""
    jobs: list[tuple[Tool, int]] = []
    for tool in TOOLS:
        previous = max(results[tool.name].values(), key=lambda m: m.size, default=None)
        size = reduced_size(previous, n, limit_seconds) if tool.role == "peer" else n
        if size in results[tool.name]:
            continue  # already measured at an earlier column's size: that measurement stands
        jobs.append((tool, size))
        if size != n and size not in results[TESSARY.name] and (TESSARY, size) not in jobs:
            jobs.append((TESSARY, size))  # so that the ratio compares equal work
    FLOOR_BYTES[n] = with_tessary(n, SEED).encode()
    measured = {(tool.name, size): Measurement(size) for tool, size in jobs}
    start = time.perf_counter()
    for r in range(rounds):
        shift = r % len(jobs)
        for tool, size in jobs[shift:] + jobs[:shift]:
            seconds, text = timed(tool, size)
            entry = measured[(tool.name, size)]
            entry.times.append(seconds)
            if r == 0:
                entry.text_bytes = len(text.encode())
                check_entities(tool.name, text, size)
            del text
    print(f"N = {n:,}: {rounds} rounds in {time.perf_counter() - start:.0f} s", file=sys.stderr)
    for (name, size), entry in measured.items():
        results[name][size] = entry
    del FLOOR_BYTES[n]


def rounds_for(n: int, rounds: int) -> int:
    return max(rounds, 21) if n <= 10_000 else rounds  # small sizes are cheap and noisier


def main() -> int:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument(
        "--rounds", type=int, default=5, help="rounds per size (at least 21 for small sizes)"
    )
    parser.add_argument(
        "--sizes", type=int, nargs="+", default=list(SIZES), help="values of N, ascending"
    )
    parser.add_argument(
        "--limit",
        type=float,
        default=LIMIT_SECONDS,
        help="seconds a peer may take at one size before it is measured at a smaller one",
    )
    parser.add_argument(
        "--docs",
        type=Path,
        default=Path(__file__).resolve().parent.parent / "docs",
        help="where performance.md and performance.png are written",
    )
    args = parser.parse_args()
    sizes = sorted(args.sizes)

    load_at_start = os.getloadavg()[0]
    FLOOR_BYTES[100] = with_tessary(100, SEED).encode()
    for tool in TOOLS:  # warm up: imports, caches, Tessary's worker pool
        check_entities(tool.name, tool.run(100, SEED), 100)
    FLOOR_BYTES.clear()

    results: Results = {tool.name: {} for tool in TOOLS}
    rounds = {n: rounds_for(n, args.rounds) for n in sizes}
    for n in sizes:
        measure_column(n, rounds[n], args.limit, results)

    cells = table_cells(TOOLS, results, sizes)
    print(console_table(cells, sizes))
    print(check_targets(TOOLS, cells).describe())

    args.docs.mkdir(parents=True, exist_ok=True)
    chart = args.docs / "performance.png"
    draw_chart(TOOLS, results, chart)
    write_report(
        args.docs / "performance.md",
        chart,
        TOOLS,
        cells,
        sizes,
        rounds,
        args.limit,
        (load_at_start, os.getloadavg()[0]),
    )
    print(f"wrote {args.docs / 'performance.md'} and {chart}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
