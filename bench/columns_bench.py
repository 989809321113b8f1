"""Benchmarks of the columnar output, each measured side by side in one run (seed 7, the five specs
of examples/five_specs.json, 10^7 rows, medians of alternating rounds):

  (a) pyarrow.table(generate_batches(...)) against NumPy generating the same five columns on one
      Generator (integers, random, normal, choice, choice with p);
  (b) the same table against generate_entities followed by polars.read_json of its text;
  (c) tessary.write to a .parquet file against pyarrow writing an already built table of the same
      data to Parquet.

Run: python bench/columns_bench.py [--rounds N] [--scale N]
"""

from __future__ import annotations

import argparse
import io
import json
import os
import tempfile

import numpy as np
import polars as pl
import pyarrow as pa
import pyarrow.parquet as pq

import tessary
from generate_bench import FIVE_SPECS, alternating_medians

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
        "score": rng.uniform(score["low"], score["high"], scale),
        "height": rng.normal(height["mean"], height["std_dev"], scale),
        "pick": rng.choice(specs["pick"]["values"], scale),
        "weighted": rng.choice(specs["weighted"]["values"], scale, p=weights / weights.sum()),
    }


def table(scale: int) -> pa.Table:
    return pa.table(tessary.generate_batches(SEED, scale, FIVE_SPECS))


def json_then_polars(scale: int) -> pl.DataFrame:
    return pl.read_json(io.StringIO(tessary.generate_entities(SEED, scale, FIVE_SPECS)))


def report(label: str, ours: float, theirs: float, other: str, target: float) -> None:
    verdict = "met" if ours / theirs <= target else "MISSED"
    print(f"{label} tessary   {ours * 1e3:9.1f} ms")
    print(f"    {other:<9} {theirs * 1e3:9.1f} ms")
    print(f"    ratio     {ours / theirs:9.3f}  (target <= {target}: {verdict})")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--scale", type=int, default=10**7)
    args = parser.parse_args()
    scale, rounds = args.scale, args.rounds
    print(f"scale {scale:,}, {os.cpu_count()} cores, {rounds} rounds; pyarrow {pa.__version__}, "
          f"numpy {np.__version__}, polars {pl.__version__}")

    ours, numpy = alternating_medians(
        rounds, (lambda: None, lambda _: table(scale)), (lambda: None, lambda _: numpy_columns(scale))
    )
    report("(a) table:", ours, numpy, "NumPy", 0.5)

    # Few rounds: the text of 10^7 entities is a gigabyte, and Polars parses it slowly.
    ours, text = alternating_medians(
        max(1, rounds // 2), (lambda: None, lambda _: table(scale)), (lambda: None, lambda _: json_then_polars(scale))
    )
    report("(b) table:", ours, text, "JSON+pl", 0.1)

    built = table(scale)
    with tempfile.TemporaryDirectory() as folder:
        ours_path, theirs_path = os.path.join(folder, "ours.parquet"), os.path.join(folder, "theirs.parquet")
        ours, theirs = alternating_medians(
            rounds,
            (lambda: None, lambda _: tessary.write(ours_path, SEED, scale, FIVE_SPECS)),
            (lambda: None, lambda _: pq.write_table(built, theirs_path)),
        )
        assert pq.read_table(ours_path).equals(built)
        sizes = os.path.getsize(ours_path) / 1e6, os.path.getsize(theirs_path) / 1e6
    report("(c) Parquet:", ours, theirs, "pyarrow", 1.5)
    print(f"    file sizes: {sizes[0]:.1f} MB and {sizes[1]:.1f} MB")


if __name__ == "__main__":
    main()
