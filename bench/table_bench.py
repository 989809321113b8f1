"""The cost of a small output from a Table made once, measured side by side in one run.

  (a) a document holding a choice of 10^5 values: t[i:i+10].text() on a Table made once, against
      generate_entities(seed, 10, specs_json), which reads the document on every call
      (target: at most 1/20);
  (b) the same slice against generate_entities(seed, 10, tiny_specs) with a one-attribute
      document (target: at most 1.5x).

Each call is repeated in a batch so that one sample is long enough for the clock; the medians of
alternating rounds are compared.

Run: python bench/table_bench.py [--rounds N]
"""

from __future__ import annotations

import argparse
import json

from timing import alternating_medians

import tessary

CHOICE_VALUES = 100_000
TINY_SPECS = '[{"name":"age","type":"uniform_int","low":18,"high":80}]'
SEED = 42


def large_document() -> str:
    return json.dumps(
        [
            {"name": "age", "type": "uniform_int", "low": 18, "high": 80},
            {"name": "city", "type": "choice",
             "values": [f"city {k}" for k in range(CHOICE_VALUES)]},
        ]
    )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=15)
    args = parser.parse_args()

    specs = large_document()
    table = tessary.Table(SEED, 10**9, specs)
    repeats = 200

    def sliced(_: object) -> None:
        for k in range(repeats):
            i = k * 1_000_003
            table[i : i + 10].text()

    def generate_large(_: object) -> None:
        for _ in range(repeats // 20):  # slow enough already: fewer calls, scaled below
            tessary.generate_entities(SEED, 10, specs)

    def generate_tiny(_: object) -> None:
        for _ in range(repeats):
            tessary.generate_entities(SEED, 10, TINY_SPECS)

    table_time, large_time, tiny_time = alternating_medians(
        args.rounds,
        (lambda: None, sliced),
        (lambda: None, generate_large),
        (lambda: None, generate_tiny),
    )
    per_slice = table_time / repeats
    per_large = large_time / (repeats // 20)
    per_tiny = tiny_time / repeats
    print(f"{args.rounds} rounds, medians per call ({len(specs) / 1e6:.1f} MB document)")
    print(f"    t[i:i+10].text()                        {per_slice * 1e6:10.1f} us")
    print(f"    generate_entities(seed, 10, document)   {per_large * 1e6:10.1f} us")
    print(f"    generate_entities(seed, 10, tiny)       {per_tiny * 1e6:10.1f} us")
    print(f"(a) slice / generate_entities(document)     {per_slice / per_large:10.4f}  "
          "(target <= 0.05)")
    print(f"(b) slice / generate_entities(tiny)         {per_slice / per_tiny:10.2f}  "
          "(target <= 1.5)")


if __name__ == "__main__":
    main()
