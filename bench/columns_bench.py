"""Benchmarks of the columnar output, each measured side by side in one run (seed 7, the five specs
of examples/five_specs.json, 10^7 rows, medians of alternating rounds):

  (a) pyarrow.table(generate_batches(...)) against NumPy generating the same five columns on one
      Generator (integers, random, normal, choice, choice with p);
  (b) the same table against generate_entities followed by polars.read_json of its text;
  (c) tessary.write to a .parquet file against pyarrow writing an already built table of the same
      data to Parquet.

Run: python bench/columns_bench.py [--rounds N] [--scale N] [--write-docs]
(--write-docs puts the figures into the columnar section of docs/performance.md).
"""

from __future__ import annotations

import argparse
import datetime
import io
import json
import os
import pathlib
import resource
import tempfile
from dataclasses import dataclass

import numpy as np
import polars as pl
import pyarrow as pa
import pyarrow.parquet as pq
from generate_bench import FIVE_SPECS, alternating_medians
from peers_report import COLUMNAR_HEADING, format_seconds, format_size, with_section

import tessary
from tessary.parquet import repeating_columns

PERFORMANCE_DOC = pathlib.Path(__file__).resolve().parents[1] / "docs" / "performance.md"

SEED = 7


def numpy_columns(scale: int) -> dict[str, np.ndarray]:
    """The five columns of the five specs, drawn by NumPy the way a user would."""
    specs = {spec["name"]: spec for spec in json.loads(FIVE_SPECS)}
    rng = np.random.default_rng(SEED)
    age, score, height = specs["age"], specs["score"], specs["height"]
    weights = np.array(specs["weighted"]["weights"])
    return {
        "id": np.arange(scale, dtype=np.uint64),
        "age": rng.integers(age["low"], age["high"] + 1, scale),
        "score": score["low"] + (score["high"] - score["low"]) * rng.random(scale),
        "height": rng.normal(height["mean"], height["std_dev"], scale),
        "pick": rng.choice(specs["pick"]["values"], scale),
        "weighted": rng.choice(specs["weighted"]["values"], scale, p=weights / weights.sum()),
    }


@dataclass(frozen=True)
class Cost:
    """The processor time and page faults of one run, all threads of this process."""

    user: float
    system: float
    faults: int

    def text(self) -> str:
        return f"{self.user:.2f} s user, {self.system:.2f} s system, {self.faults:,} page faults"


def cost_of(run) -> Cost:
    before = resource.getrusage(resource.RUSAGE_SELF)
    run()
    after = resource.getrusage(resource.RUSAGE_SELF)
    return Cost(
        after.ru_utime - before.ru_utime,
        after.ru_stime - before.ru_stime,
        after.ru_minflt - before.ru_minflt,
    )


def table(scale: int) -> pa.Table:
    return pa.table(tessary.generate_batches(SEED, scale, FIVE_SPECS))


def json_then_polars(scale: int) -> pl.DataFrame:
    return pl.read_json(io.StringIO(tessary.generate_entities(SEED, scale, FIVE_SPECS)))


@dataclass(frozen=True)
class Row:
    job: str
    ours: float
    other: str
    theirs: float
    target: float | None  # None: shown for comparison only

    def verdict(self) -> str:
        if self.target is None:
            return "no target"
        return "met" if self.ours / self.theirs <= self.target else "missed"

    def target_text(self) -> str:
        return "—" if self.target is None else f"≤ {self.target}× ({self.verdict()})"


def print_row(row: Row) -> None:
    print(
        f"{row.job}: tessary {format_seconds(row.ours)}, {row.other} {format_seconds(row.theirs)}, "
        f"ratio {row.ours / row.theirs:.3f} ({row.target_text()})"
    )


def columnar_section(
    rows: list[Row], costs: dict[str, Cost], scale: int, rounds: int, load: tuple[float, float]
) -> str:
    lines = "\n".join(
        f"| {row.job} | {format_seconds(row.ours)} | {row.other}: {format_seconds(row.theirs)} "
        f"| {row.ours / row.theirs:.3g}× | {row.target_text()} |"
        for row in rows
    )
    when = datetime.datetime.now(datetime.UTC).strftime("%Y-%m-%d %H:%M UTC")
    return f"""{COLUMNAR_HEADING}

The same five specs with seed 7, N = {format_size(scale)}, handed over as columns rather than
text: `pyarrow.table(tessary.generate_batches(7, N, specs))`, and `tessary.write` of a `.parquet`
file. Measured by `python bench/columns_bench.py --write-docs` (also run by `make bench`), each
figure the median of alternating rounds in one run ({rounds} rounds; 2 for the JSON text parsed by
Polars). The alternatives: NumPy drawing the same five columns on one `Generator` (`integers`,
`random`, `normal`, `choice`, `choice` with `p`), single-threaded; `generate_entities` followed
by `polars.read_json` of its text; pyarrow writing an already built table of the same data
(`pyarrow.parquet.write_table` with its defaults: the same row groups and compression, but a
dictionary tried on every column, where `tessary.write` asks for one only on the columns whose
values repeat in the first batch; the last row gives pyarrow that choice too).

| Job | Tessary | Alternative | Ratio | Target |
|---|---:|---:|---:|---|
{lines}

Where the processor time of one more run of each went:
- the table: {costs["table"].text()};
- NumPy: {costs["numpy"].text()}.

The user time is sampling and storing the cells, spread over the worker threads. The system time
is the kernel handing out fresh memory for the columns (48 bytes a row) and zeroing it; the table's
batches can often reuse the memory that the previous round's table gave back to the allocator.
Batches of 2^18 rows fill the huge pages of their 8-byte columns exactly, so the table takes no
more page faults than NumPy's arrays, which are in huge pages too. On a shared machine both times
move with the load of other machines' work; only ratios from one run compare.

Run of {when}, {os.cpu_count()} cores, load average over one minute {load[0]:.2f} at the start and
{load[1]:.2f} at the end; pyarrow {pa.__version__}, NumPy {np.__version__}, Polars {pl.__version__}.

"""


def main() -> None:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--scale", type=int, default=10**7)
    parser.add_argument(
        "--write-docs", action="store_true", help="write the figures into docs/performance.md"
    )
    args = parser.parse_args()
    scale, rounds = args.scale, args.rounds
    load_before = os.getloadavg()[0]
    print(f"scale {scale:,}, {os.cpu_count()} cores, {rounds} rounds")
    table(1000)  # the worker pool starts before the first round
    rows = []

    ours, numpy = alternating_medians(
        rounds,
        (lambda: None, lambda _: table(scale)),
        (lambda: None, lambda _: numpy_columns(scale)),
    )
    rows.append(Row("pyarrow table", ours, "NumPy columns", numpy, 0.5))
    print_row(rows[-1])
    costs = {"table": cost_of(lambda: table(scale)), "numpy": cost_of(lambda: numpy_columns(scale))}
    for name, cost in costs.items():
        print(f"  {name}: {cost.text()}")

    # Two rounds: the text of 10^7 entities is a gigabyte, and Polars parses it slowly.
    ours, text = alternating_medians(
        2, (lambda: None, lambda _: table(scale)), (lambda: None, lambda _: json_then_polars(scale))
    )
    rows.append(Row("pyarrow table", ours, "JSON text + polars.read_json", text, 0.1))
    print_row(rows[-1])

    built = table(scale)
    with tempfile.TemporaryDirectory() as folder:
        ours_path, theirs_path = (
            os.path.join(folder, "ours.parquet"),
            os.path.join(folder, "theirs.parquet"),
        )
        # tessary.write asks for dictionary pages only where values repeat; pyarrow by default
        # tries them on every column. The third call shows what the choice alone is worth.
        repeating = repeating_columns(built.to_batches()[0])
        ours, theirs, same_choice = alternating_medians(
            rounds,
            (lambda: None, lambda _: tessary.write(ours_path, SEED, scale, FIVE_SPECS)),
            (lambda: None, lambda _: pq.write_table(built, theirs_path)),
            (lambda: None, lambda _: pq.write_table(built, theirs_path, use_dictionary=repeating)),
        )
        assert pq.read_table(ours_path).equals(built)
    rows.append(Row("Parquet file", ours, "pyarrow writing the built table", theirs, 1.5))
    print_row(rows[-1])
    rows.append(
        Row("Parquet file", ours, "the same, with Tessary's dictionary choice", same_choice, None)
    )
    print_row(rows[-1])

    if args.write_docs:
        body = columnar_section(rows, costs, scale, rounds, (load_before, os.getloadavg()[0]))
        PERFORMANCE_DOC.write_text(
            with_section(PERFORMANCE_DOC.read_text(encoding="utf-8"), COLUMNAR_HEADING, body)
        )
        print(f"wrote {PERFORMANCE_DOC}")


if __name__ == "__main__":
    main()
