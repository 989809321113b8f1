"""Benchmark of what flushing a written file to the disk costs, measured side by side in one run.

tessary.write to a path flushes the temporary file (fsync) before renaming it over the target,
and the folder after, so that a power loss never leaves a renamed file empty. This writes about
2 GB of JSON Lines (2 * 10^7 entities of the seed-7 five-spec reference list,
examples/five_specs.json) to a file on a disk, with the flushes and with os.fsync replaced by a
no-op, the two taking turns; every round starts from a clean page cache of written data (the
previous file removed, then sync), untimed.

Run: python bench/fsync_bench.py [--rounds N] [--dir DIR] [--scale N]
(DIR must be on a disk: a memory filesystem flushes for free.)
"""

from __future__ import annotations

import argparse
import os
import pathlib

from timing import alternating_medians

FIVE_SPECS = (
    (pathlib.Path(__file__).resolve().parents[1] / "examples" / "five_specs.json")
    .read_text()
    .strip()
)
SEED = 7


def main() -> None:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--dir", default=".", help="where the file is written (on a disk)")
    parser.add_argument("--scale", type=int, default=20_000_000)
    args = parser.parse_args()
    from tessary import write

    path = os.path.join(args.dir, "fsync-bench.jsonl")
    sizes: list[int] = []

    def clean() -> None:
        pathlib.Path(path).unlink(missing_ok=True)
        os.sync()

    def flushed(_: None) -> None:
        sizes.append(write(path, SEED, args.scale, FIVE_SPECS).bytes_written)

    def unflushed(_: None) -> None:
        real = os.fsync
        os.fsync = lambda fd: None
        try:
            write(path, SEED, args.scale, FIVE_SPECS)
        finally:
            os.fsync = real

    with_sync, without_sync = alternating_medians(
        args.rounds, (clean, flushed), (clean, unflushed)
    )
    clean()
    print(f"{args.scale:,} entities as JSON Lines ({sizes[0] / 1e9:.2f} GB) to {args.dir}")
    print(
        f"    with fsync          {with_sync * 1e3:8.0f} ms  "
        f"{sizes[0] / with_sync / 1e6:6.0f} MB/s"
    )
    print(
        f"    without fsync       {without_sync * 1e3:8.0f} ms  "
        f"{sizes[0] / without_sync / 1e6:6.0f} MB/s"
    )
    print(f"    ratio               {with_sync / without_sync:8.2f}")


if __name__ == "__main__":
    main()
