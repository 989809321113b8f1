"""Benchmarks of generate_entities from Python, each measured side by side in one run.

  (a) a call at scale 10^6 against the floor: making a str of the same byte length from bytes in
      memory (bytes.decode("ascii")), alternating, median of several rounds;
  (b) the same call with RAYON_NUM_THREADS=2 against RAYON_NUM_THREADS=1, in separate processes;
  (c) the growth of peak resident memory over one call in a fresh process, against the output size;
  (d) reading a 10 MB specs document (generate_entities(seed, 0, text)) against json.loads(text).

Run: python bench/generate_bench.py [--rounds N]
"""

from __future__ import annotations

import argparse
import json
import os
import pathlib
import random
import subprocess
import sys

from timing import alternating_medians, one_and_two_threads

# The reference example: one spec of each kind, and a weighted choice.
FIVE_SPECS = (
    (pathlib.Path(__file__).resolve().parents[1] / "examples" / "five_specs.json")
    .read_text()
    .strip()
)
SCALE = 1_000_000


def call_against_floor(rounds: int) -> None:
    from tessary import generate_entities

    text = generate_entities(7, SCALE, FIVE_SPECS)
    data = text.encode("ascii")
    call, floor = alternating_medians(
        rounds,
        (lambda: None, lambda _: generate_entities(7, SCALE, FIVE_SPECS)),
        (lambda: data, lambda bytes_: bytes_.decode("ascii")),
    )
    print(
        f"(a) scale {SCALE:,}, {len(data) / 1e6:.1f} MB of text, "
        f"default threads ({os.cpu_count()} cores)"
    )
    print(f"    generate_entities   {call * 1e3:8.1f} ms")
    print(f"    bytes.decode floor  {floor * 1e3:8.1f} ms")
    print(f"    ratio               {call / floor:8.2f}  (target <= 2.5)")


TIMED_CHILD = """
import json, statistics, sys, time
from tessary import generate_entities
specs, scale, rounds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
generate_entities(7, scale, specs)
times = []
for _ in range(rounds):
    start = time.perf_counter()
    generate_entities(7, scale, specs)
    times.append(time.perf_counter() - start)
print(statistics.median(times))
"""


def threads_speedup(rounds: int) -> None:
    t1, t2 = one_and_two_threads(TIMED_CHILD, FIVE_SPECS, str(SCALE), str(rounds))
    print(f"(b) scale {SCALE:,}: 1 thread {t1 * 1e3:.1f} ms, 2 threads {t2 * 1e3:.1f} ms")
    print(f"    speed-up            {t1 / t2:8.2f}  (target >= 1.7)")


MEMORY_CHILD = """
import resource, sys
from tessary import generate_entities
specs, scale = sys.argv[1], int(sys.argv[2])
generate_entities(7, 1, specs)  # the pool and the module are set up before measuring
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
text = generate_entities(7, scale, specs)
after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print((after - before) * 1024, len(text))
"""


def peak_memory() -> None:
    out = subprocess.run(
        [sys.executable, "-c", MEMORY_CHILD, FIVE_SPECS, str(SCALE)],
        capture_output=True,
        text=True,
        check=True,
    )
    growth, size = map(int, out.stdout.split())
    print(f"(c) peak RSS growth {growth / 1e6:.1f} MB for {size / 1e6:.1f} MB of output")
    print(f"    ratio               {growth / size:8.2f}  (target <= 2.5)")


def reader_document(target_bytes: int = 10_000_000) -> str:
    """One choice spec whose values hold, in equal shares by bytes, integers, 17-digit doubles,
    plain ASCII strings, strings with escapes and non-ASCII characters, and small objects."""
    rng = random.Random(5)
    makers = [
        lambda: str(rng.randrange(-(10**12), 10**12)),
        lambda: repr(rng.uniform(-1e6, 1e6)),
        lambda: json.dumps(
            "".join(rng.choice("abcdefghij klmnop") for _ in range(rng.randrange(5, 30)))
        ),
        lambda: json.dumps(
            'caf\u00e9 "quoted"\t\u00fcber \\ ' + "\u4e2d\u6587" * rng.randrange(1, 4),
            ensure_ascii=rng.random() < 0.5,
        ),
        lambda: json.dumps(
            {"a": rng.randrange(100), "b": rng.random(), "c": "x" * rng.randrange(1, 8)},
            separators=(",", ":"),
        ),
    ]
    share = target_bytes // len(makers)
    parts = []
    for make in makers:
        size = 0
        while size < share:
            item = make()
            parts.append(item)
            size += len(item) + 1
    rng.shuffle(parts)
    return '[{"name":"v","type":"choice","values":[' + ",".join(parts) + "]}]"


def reader_against_json_loads(rounds: int) -> None:
    from tessary import generate_entities

    text = reader_document()
    def fresh() -> str:
        return "".join([text[:1], text[1:]])  # a new str: no cached UTF-8 form is reused

    a, b = alternating_medians(
        rounds,
        (fresh, lambda specs: generate_entities(1, 0, specs)),
        (fresh, json.loads),
    )
    print(f"(d) reading a {len(text.encode()) / 1e6:.1f} MB specs document")
    print(f"    generate_entities(seed, 0, text) {a * 1e3:8.1f} ms")
    print(f"    json.loads(text)                 {b * 1e3:8.1f} ms")
    print(f"    ratio               {a / b:8.2f}  (target <= 0.5)")


def main() -> None:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()
    # First, while this process is small: a child's ru_maxrss starts from the high-water mark
    # its parent had when it forked.
    peak_memory()
    call_against_floor(args.rounds)
    threads_speedup(max(3, args.rounds // 2))
    reader_against_json_loads(args.rounds)


if __name__ == "__main__":
    main()
