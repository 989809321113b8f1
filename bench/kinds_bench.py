"""The ten-column benchmark of the attribute kinds, measured side by side in one run (seed 11,
10^7 rows by default, medians of alternating rounds):

  (a) pyarrow.table(tessary.Table(seed, rows, specs)) on all cores, against NumPy drawing the same
      ten columns on one Generator and assembling them into a pyarrow table (target: a ratio of
      at most 0.5);
  (b) per kind, the nanoseconds per value of its Arrow column on one thread (a one-column Table,
      in a child interpreter with RAYON_NUM_THREADS=1) next to NumPy's for the same column; the
      id column that every Table carries is timed alone too and shown as the baseline, and a
      sequence column (no generator step) as the floor of a one-column Table;
  (c) the JSON Lines text of the whole table written to /dev/null on all cores (MB/s, rows/s).

Run: python bench/kinds_bench.py [--rows N] [--rounds N]
"""

from __future__ import annotations

import argparse
import json
import os
from collections.abc import Callable

import numpy as np
import pyarrow as pa
from timing import alternating_medians, child_json

import tessary

SEED = 11
ZIPF_N = 100_000
ZIPF_S = 1.1
# Six years in milliseconds and two years of days, as the specs give them.
TIMESTAMP_START, TIMESTAMP_END = "2019-01-01T00:00:00Z", "2024-12-31T23:59:59.999Z"
TIMESTAMP_MS = (1_546_300_800_000, 1_735_689_599_999)
DATE_START, DATE_END = "2023-01-01", "2024-12-31"
DATE_DAYS = (19_358, 20_088)


def specs(rows: int) -> list[dict]:
    """The ten attribute specs; the key's domain is exactly the table's ids."""
    return [
        {"name": "key", "type": "unique_int", "low": 0, "high": rows - 1},
        {"name": "created", "type": "timestamp", "start": TIMESTAMP_START, "end": TIMESTAMP_END,
         "unit": "ms"},
        {"name": "day", "type": "date", "start": DATE_START, "end": DATE_END},
        {"name": "rank", "type": "zipf", "n": ZIPF_N, "s": ZIPF_S},
        {"name": "visits", "type": "poisson", "mean": 4},
        {"name": "amount", "type": "lognormal", "mu": 3, "sigma": 1, "decimals": 2},
        {"name": "wait", "type": "exponential", "mean": 3},
        {"name": "flag", "type": "bernoulli", "p": 0.1},
        {"name": "token", "type": "uuid"},
        {"name": "age", "type": "uniform_int", "low": 18, "high": 90, "null_rate": 0.1},
    ]  # fmt: skip


def zipf_weights() -> np.ndarray:
    weights = np.arange(1, ZIPF_N + 1, dtype=np.float64) ** -ZIPF_S
    return weights / weights.sum()


# NumPy's way to each column, on a Generator shared by all ten: (rng, rows) -> Arrow array.
NUMPY_COLUMNS: dict[str, Callable[[np.random.Generator, int], pa.Array]] = {
    "key": lambda rng, rows: pa.array(rng.permutation(rows)),
    "created": lambda rng, rows: pa.array(
        rng.integers(TIMESTAMP_MS[0], TIMESTAMP_MS[1] + 1, rows).view("datetime64[ms]"),
        type=pa.timestamp("ms", tz="UTC"),
    ),
    "day": lambda rng, rows: pa.array(
        rng.integers(DATE_DAYS[0], DATE_DAYS[1] + 1, rows).astype("datetime64[D]"),
        type=pa.date32(),
    ),
    "rank": lambda rng, rows: pa.array(
        rng.choice(np.arange(1, ZIPF_N + 1), rows, p=zipf_weights())
    ),
    "visits": lambda rng, rows: pa.array(rng.poisson(4, rows)),
    "amount": lambda rng, rows: pa.array(np.round(rng.lognormal(3, 1, rows), 2)),
    "wait": lambda rng, rows: pa.array(rng.exponential(3, rows)),
    "flag": lambda rng, rows: pa.array(rng.random(rows) < 0.1),
    "token": lambda rng, rows: pa.FixedSizeBinaryArray.from_buffers(
        pa.binary(16), rows, [None, pa.py_buffer(rng.bytes(16 * rows))]
    ),
    "age": lambda rng, rows: pa.array(rng.integers(18, 91, rows), mask=rng.random(rows) < 0.1),
}


def numpy_table(rows: int) -> pa.Table:
    rng = np.random.default_rng(SEED)
    columns = {"id": pa.array(np.arange(rows, dtype=np.uint64))}
    columns.update((name, make(rng, rows)) for name, make in NUMPY_COLUMNS.items())
    return pa.table(columns)


def tessary_table(rows: int, attribute_specs: list[dict]) -> pa.Table:
    return pa.table(tessary.Table(SEED, rows, json.dumps(attribute_specs)))


def per_kind(rows: int, rounds: int) -> dict[str, list[float]]:
    """Seconds per value of each kind's column, [tessary, NumPy], on the threads this process has;
    "id" is the Table of no attribute (its id column alone)."""
    results: dict[str, list[float]] = {}
    tessary_table(1000, [])  # the worker pool starts before the first round
    (ours,) = alternating_medians(rounds, (lambda: None, lambda _: tessary_table(rows, [])))
    results["id"] = [ours / rows, float("nan")]
    # A kind that takes no generator step: what a one-column Table costs beyond its id column
    # before any value is drawn (the entity's generator set up, the column stored).
    sequence = [{"name": "n", "type": "sequence"}]
    (ours,) = alternating_medians(rounds, (lambda: None, lambda _: tessary_table(rows, sequence)))
    results["sequence"] = [ours / rows, float("nan")]
    for spec in specs(rows):
        name = spec["name"]
        make = NUMPY_COLUMNS[name]
        ours, theirs = alternating_medians(
            rounds,
            (lambda: None, lambda _, spec=spec: tessary_table(rows, [spec])),
            (lambda: np.random.default_rng(SEED), lambda rng, make=make: make(rng, rows)),
        )
        results[name] = [ours / rows, theirs / rows]
    return results


def one_thread_per_kind(rows: int, rounds: int) -> dict[str, list[float]]:
    """per_kind in a child interpreter whose Tables run on one worker thread."""
    return child_json(__file__, "--child-per-kind", rows, rounds, RAYON_NUM_THREADS="1")


def main() -> None:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--rows", type=int, default=10**7)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--child-per-kind", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    rows, rounds = args.rows, args.rounds
    if args.child_per_kind:
        print(json.dumps(per_kind(rows, rounds)))
        return

    load_before = os.getloadavg()[0]
    print(
        f"{rows:,} rows, {os.cpu_count()} cores, {rounds} rounds; tessary {tessary.__version__}, "
        f"NumPy {np.__version__}, pyarrow {pa.__version__}"
    )
    attribute_specs = specs(rows)
    tessary_table(1000, specs(1000))  # the worker pool starts before the first round
    ours, theirs = alternating_medians(
        rounds,
        (lambda: None, lambda _: tessary_table(rows, attribute_specs)),
        (lambda: None, lambda _: numpy_table(rows)),
    )
    verdict = "met" if ours / theirs <= 0.5 else "missed"
    print(
        f"(a) ten columns: tessary {ours:.3f} s (all cores), NumPy {theirs:.3f} s (one Generator), "
        f"ratio {ours / theirs:.3f} (target <= 0.5: {verdict})"
    )

    print(
        f"(b) ns per value of one column on one thread (medians of {max(3, rounds // 2)} "
        "alternating rounds):"
    )
    print(f"    {'column':<8} {'kind':<12} {'tessary':>9} {'- id':>9} {'NumPy':>9} {'ratio':>7}")
    kinds = {spec["name"]: spec["type"] for spec in attribute_specs}
    results = one_thread_per_kind(rows, max(3, rounds // 2))
    base = results.pop("id")[0]
    sequence = results.pop("sequence")[0]
    print(f"    {'id':<8} {'(baseline)':<12} {base * 1e9:9.2f}")
    print(
        f"    {'n':<8} {'sequence':<12} {sequence * 1e9:9.2f} {(sequence - base) * 1e9:9.2f}"
        "   (no generator step: the floor of a one-column Table)"
    )
    for name, (mine, numpy) in results.items():
        net = mine - base
        print(
            f"    {name:<8} {kinds[name]:<12} {mine * 1e9:9.2f} {net * 1e9:9.2f} "
            f"{numpy * 1e9:9.2f} {net / numpy:7.2f}"
        )
    total_ours = sum(r[0] - base for r in results.values()) + base
    total_numpy = sum(r[1] for r in results.values())
    print(
        f"    {'all ten':<8} {'':<12} {total_ours * 1e9:9.2f} {'':>9} {total_numpy * 1e9:9.2f} "
        f"{total_ours / total_numpy:7.2f}"
    )

    table = tessary.Table(SEED, rows, json.dumps(attribute_specs))
    written: list[int] = []

    def write(_: object) -> None:
        written.append(table.write("/dev/null", format="jsonl").text_bytes)

    (seconds,) = alternating_medians(max(3, rounds // 2), (lambda: None, write))
    size = written[-1]
    print(
        f"(c) JSON Lines to /dev/null (all cores): {seconds:.3f} s, "
        f"{size / seconds / 1e6:,.0f} MB/s, {rows / seconds / 1e6:.2f} M rows/s "
        f"({size / rows:.0f} bytes a row)"
    )
    print(
        f"load average over one minute {load_before:.2f} at the start, "
        f"{os.getloadavg()[0]:.2f} at the end"
    )


if __name__ == "__main__":
    main()
