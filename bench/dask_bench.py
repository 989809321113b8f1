"""Benchmark of tessary.dask.write on a LocalCluster against one tessary.write, in one run.

  (a) throughput: JSON Lines of the seed-7 five-spec list to /dev/shm, a data set written by a
      LocalCluster of 2 single-thread worker processes (one pool thread each), with its manifest's
      digests in SHA-256 (the default) and in XXH3-128, against one tessary.write of the same
      entities on 2 threads in this process, alternating, medians; also against that write with
      digest=True, as the workers compute the digest of every part while they write;
  (b) the best ratio this machine allows: the data set hashes every byte for its manifest, which
      the plain write does not, so with all cores busy it takes at least the plain write's
      processor time plus the hashing's (at each digest's rate measured here), over the cores;
  (c) every worker's peak resident memory (VmHWM) over a data set write at two scales, on fresh
      workers: bounded by the part, it stays about the same when the data set grows.

Run: python bench/dask_bench.py [--scale N] [--rounds R] [--memory-scales A,B] [--dir D]
"""

from __future__ import annotations

import argparse
import contextlib
import os
import pathlib
import resource
import shutil
import statistics
import time

FIVE_SPECS = (
    (pathlib.Path(__file__).resolve().parents[1] / "examples" / "five_specs.json")
    .read_text()
    .strip()
)


def peak_resident_bytes() -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmHWM in /proc/self/status")


def processor_seconds() -> float:
    """User and system time of every thread of this process so far."""
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def digest_bytes_per_second(algorithm: str) -> float:
    """The rate of the manifest's digest on one core, best of 5."""
    from tessary import _engine

    piece = os.urandom(64 << 20)
    best = float("inf")
    for _ in range(5):
        hasher = _engine.Hasher(algorithm)
        started = time.perf_counter()
        hasher.update(piece)
        hasher.hexdigest()
        best = min(best, time.perf_counter() - started)
    return len(piece) / best


def throughput(scale: int, rounds: int, folder: pathlib.Path) -> None:
    import tessary
    import tessary.dask

    whole, dataset = folder / "whole.jsonl", folder / "set"
    times: dict[str, list[float]] = {"write": [], "digest": [], "sha256": [], "xxh128": []}
    write_processor: list[float] = []
    size = 0
    for _ in range(rounds):
        for name in times:
            processor = processor_seconds()
            started = time.perf_counter()
            if name in ("write", "digest"):
                size = tessary.write(
                    whole, 7, scale, FIVE_SPECS, digest=name == "digest"
                ).bytes_written
            else:
                tessary.dask.write(
                    str(dataset), 7, scale, FIVE_SPECS, overwrite=True, digest=name
                )
            times[name].append(time.perf_counter() - started)
            if name == "write":
                write_processor.append(processor_seconds() - processor)
            shutil.rmtree(dataset, ignore_errors=True)
            whole.unlink(missing_ok=True)
    write, digest, sha256, xxh128 = (statistics.median(samples) for samples in times.values())
    print(
        f"(a) {scale:,} entities, {size / 1e9:.2f} GB of JSON Lines, "
        f"medians of {rounds} alternating rounds"
    )
    print(
        f"    tessary.write, 2 threads                 {write:7.2f} s  "
        f"{size / write / 1e6:7.0f} MB/s"
    )
    print(
        f"    tessary.write, 2 threads, digest=True    {digest:7.2f} s  "
        f"{size / digest / 1e6:7.0f} MB/s"
    )
    for name, dask in (("sha256", sha256), ("xxh128", xxh128)):
        print(
            f"    tessary.dask.write, 2 workers x 1, {name} {dask:7.2f} s  "
            f"{size / dask / 1e6:7.0f} MB/s"
        )
    print(f"    throughput ratio dask sha256 / write     {write / sha256:7.2f}")
    print(f"    throughput ratio dask xxh128 / write     {write / xxh128:7.2f}   (target >= 0.85)")
    print(f"    throughput ratio dask sha256 / write with digest {digest / sha256:6.2f}")

    generating = statistics.median(write_processor)
    cores = os.cpu_count() or 1
    print(f"(b) the plain write took {generating:.2f} s of processor time")
    for name in ("sha256", "xxh128"):
        rate = digest_bytes_per_second(name)
        hashing = size / rate
        fastest = (generating + hashing) / cores
        print(
            f"    {name} runs at {rate / 1e9:.2f} GB/s: hashing {size / 1e9:.2f} GB takes "
            f"{hashing:.2f} s more; with {cores} cores the data set takes at least "
            f"({generating:.2f} + {hashing:.2f}) / {cores} = {fastest:.2f} s: "
            f"the best ratio here is {write / fastest:.2f}"
        )


def worker_peaks(scales: list[int], folder: pathlib.Path) -> None:
    import tessary.dask

    print("(c) peak resident memory of each worker over one data set write (a new cluster each)")
    for scale in scales:
        with local_cluster() as client:
            dataset = folder / "set"
            tessary.dask.write(str(dataset), 7, scale, FIVE_SPECS, overwrite=True)
            parts = len(list(dataset.glob("part-*")))
            shutil.rmtree(dataset)
            peaks = sorted(client.run(peak_resident_bytes).values())
        shown = ", ".join(f"{peak / 2**20:.0f} MiB" for peak in peaks)
        print(f"    {scale:>12,} entities, {parts:3d} parts: {shown}")


@contextlib.contextmanager
def local_cluster():
    """A client of 2 worker processes of one thread, each with one pool thread."""
    from distributed import Client, LocalCluster

    with (
        LocalCluster(
            n_workers=2,
            threads_per_worker=1,
            processes=True,
            dashboard_address=None,
            env={"RAYON_NUM_THREADS": "1"},
        ) as cluster,
        Client(cluster) as client,
    ):
        yield client


def main() -> None:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--scale", type=float, default=3e7)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--memory-scales", default="1e7,3e7")
    parser.add_argument("--dir", default="/dev/shm/tessary-dask-bench")
    args = parser.parse_args()

    folder = pathlib.Path(args.dir)
    folder.mkdir(parents=True, exist_ok=True)
    print(
        f"{os.cpu_count()} cores; this process's pool uses RAYON_NUM_THREADS="
        f"{os.environ.get('RAYON_NUM_THREADS', 'unset (all cores)')}"
    )
    try:
        with local_cluster():
            throughput(int(args.scale), args.rounds, folder)
        worker_peaks([int(float(s)) for s in args.memory_scales.split(",")], folder)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
