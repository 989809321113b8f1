"""Benchmarks of streaming output (tessary.write), each measured side by side in one run.

  (a) write() of 10^7 entities as JSON to a file against generate_entities() followed by
      open(path, "wb").write(text.encode()), alternating, median of several rounds;
  (b) the growth of peak resident memory (VmHWM) of a fresh process writing 3 * 10^7 entities as
      JSON Lines to /dev/null, and 2 * 10^4 entities of a choice between a one-byte text and one
      of 1 MB (entity 0 draws the short one: sizing blocks by it alone would hold thousands of
      long ones in each block);
  (c) writing to /dev/null without a digest with RAYON_NUM_THREADS=2 against RAYON_NUM_THREADS=1,
      in separate processes taking turns;
  (d) the throughput of .jsonl.zst and .jsonl.gz at their default levels, and of digest=True
      (SHA-256) and digest="xxh128", against plain JSON Lines, alternating.

Files go to /dev/shm (memory), so that the disk does not set the pace. The specs are the seed-7
five-spec reference list, examples/five_specs.json.

Run: python bench/stream_bench.py [--rounds N] [--dir DIR]
"""

from __future__ import annotations

import argparse
import json
import os
import pathlib
import subprocess
import sys

from timing import alternating_medians, one_and_two_threads

FIVE_SPECS = (
    (pathlib.Path(__file__).resolve().parents[1] / "examples" / "five_specs.json")
    .read_text()
    .strip()
)
SEED = 7


def removing(path: str):
    """Removes the file at path if it is there (untimed, before a round of a call)."""
    return lambda: pathlib.Path(path).unlink(missing_ok=True)


def write_against_whole_text(rounds: int, folder: str) -> None:
    from tessary import generate_entities, write

    scale = 10_000_000
    streamed, whole = os.path.join(folder, "streamed.json"), os.path.join(folder, "whole.json")

    def write_whole() -> None:  # what a user does without streaming
        text = generate_entities(SEED, scale, FIVE_SPECS)
        with open(whole, "wb") as file:
            file.write(text.encode())

    a, b = alternating_medians(
        rounds,
        (removing(streamed), lambda _: write(streamed, SEED, scale, FIVE_SPECS)),
        (removing(whole), lambda _: write_whole()),
    )
    removing(streamed)(), removing(whole)()
    print(f"(a) {scale:,} entities as JSON to {folder}")
    print(f"    write()                                  {a * 1e3:8.0f} ms")
    print(f"    generate_entities + open().write(encode) {b * 1e3:8.0f} ms")
    print(f"    ratio               {a / b:8.2f}  (target <= 0.75)")


MEMORY_CHILD = """
import sys
def high_water_kib():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))
specs, scale = sys.stdin.read(), int(sys.argv[1])
import tessary  # the import is not measured; the pool, the window and its buffers are
before = high_water_kib()
result = tessary.write("/dev/null", 7, scale, specs, format="jsonl")
print((high_water_kib() - before) * 1024, result.text_bytes)
"""


# Entity 0 of seed 7 draws "a".
SHORT_OR_MEGABYTE = json.dumps([{"name": "v", "type": "choice", "values": ["x" * 10**6, "a"]}])


def peak_memory() -> None:
    for name, specs, scale in [
        ("five specs", FIVE_SPECS, 30_000_000),
        ('"a" or a 1 MB text', SHORT_OR_MEGABYTE, 20_000),
    ]:
        out = subprocess.run(
            [sys.executable, "-c", MEMORY_CHILD, str(scale)],
            input=specs,
            capture_output=True,
            text=True,
            check=True,
        )
        growth, size = map(int, out.stdout.split())
        print(
            f"(b) {scale:,} entities of {name} as JSON Lines to /dev/null "
            f"({size / 1e9:.1f} GB of text)"
        )
        print(f"    VmHWM growth        {growth / 2**20:8.1f} MiB  (target <= 256)")


TIMED_CHILD = """
import statistics, sys, time, tessary
specs, scale, rounds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
tessary.write("/dev/null", 7, 1000, specs, format="jsonl")
times = []
for _ in range(rounds):
    start = time.perf_counter()
    tessary.write("/dev/null", 7, scale, specs, format="jsonl")
    times.append(time.perf_counter() - start)
print(statistics.median(times))
"""


def threads_speedup(rounds: int) -> None:
    scale = 5_000_000
    t1, t2 = one_and_two_threads(TIMED_CHILD, FIVE_SPECS, str(scale), str(rounds))
    print(
        f"(c) {scale:,} entities as JSON Lines to /dev/null: "
        f"1 thread {t1 * 1e3:.0f} ms, 2 threads {t2 * 1e3:.0f} ms"
    )
    print(f"    speed-up            {t1 / t2:8.2f}  (target >= 1.7)")


def compression_and_digest(rounds: int, folder: str) -> None:
    from tessary import write

    scale = 5_000_000
    cases = [
        ("plain .jsonl", "plain.jsonl", {}),
        (".jsonl.zst (zstd 3)", "zstd.jsonl.zst", {}),
        (".jsonl.gz (gzip 5)", "gzip.jsonl.gz", {}),
        ("plain .jsonl, digest=True", "digest.jsonl", {"digest": True}),
        ("plain .jsonl, xxh128", "xxh128.jsonl", {"digest": "xxh128"}),
    ]
    sizes: dict[str, int] = {}

    def writer(name: str, file: str, options: dict):
        path = os.path.join(folder, file)

        def run(_) -> None:
            sizes[name] = write(path, SEED, scale, FIVE_SPECS, **options).bytes_written

        return removing(path), run

    medians = alternating_medians(rounds, *(writer(*case) for case in cases))
    for _, file, _ in cases:
        removing(os.path.join(folder, file))()
    text_bytes = sizes["plain .jsonl"]
    print(
        f"(d) {scale:,} entities as JSON Lines ({text_bytes / 1e6:.0f} MB of text) to {folder}, "
        "default threads"
    )
    for (name, _, _), seconds in zip(cases, medians, strict=True):
        print(
            f"    {name:27} {seconds * 1e3:7.0f} ms  {text_bytes / seconds / 1e6:6.0f} MB/s of text"
            f"  {sizes[name] / 1e6:6.0f} MB written  x{medians[0] / seconds:.2f} of plain"
        )


def main() -> None:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--dir", default="/dev/shm", help="where the files are written")
    args = parser.parse_args()
    # First, while this process is small and nothing has been imported.
    peak_memory()
    write_against_whole_text(args.rounds, args.dir)
    threads_speedup(max(3, args.rounds // 2))
    compression_and_digest(args.rounds, args.dir)


if __name__ == "__main__":
    main()
