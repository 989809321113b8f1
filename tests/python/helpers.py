"""Shared by the Python tests: spec documents and running code in a fresh interpreter."""

from __future__ import annotations

import gzip
import io
import json
import os
import pathlib
import signal
import subprocess
import sys
import time
from collections.abc import Callable

AGE_SPECS = '[{"name":"age","type":"uniform_int","low":18,"high":80}]'

# The five specs of the reference example: one of each kind, and a weighted choice.
HERE = str(pathlib.Path(__file__).resolve().parent)
EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
FIVE_SPECS = (EXAMPLES / "five_specs.json").read_text().strip()


def run_python(
    code: str, env_extra: dict[str, str] | None = None, timeout: float = 120
) -> subprocess.CompletedProcess[str]:
    """Runs code in a fresh interpreter with the same environment (plus env_extra)."""
    env = dict(os.environ)
    env.update(env_extra or {})
    return subprocess.run(
        [sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=timeout
    )


# All four kinds, non-ASCII names and values, a repeated name and a spec named "id".
ALL_KINDS = json.dumps(
    [
        {"name": "i", "type": "uniform_int", "low": -1000, "high": 10**12},
        {"name": "id", "type": "uniform_float", "low": -1.5, "high": 2.5},
        {"name": "n", "type": "normal", "mean": 10, "std_dev": 3, "min": 4, "max": 16},
        {
            "name": "c\u00e9",
            "type": "choice",
            "values": ["a", {"x": [1, 2.5]}, None, True, -7, "\u4e2d"],
        },
        {"name": "i", "type": "choice", "values": ["\u00e9t\u00e9", "b"], "weights": [0.3, 0.7]},
    ]
)

# A choice with one value and eight weights: a pick past the value fails, rarely. With seed 11 the
# first failing entity is 86352 (index 6), and the first one from 86353 on is 340848 (index 5).
LATE_FAILING = '[{"name":"k","type":"choice","values":[1],"weights":[1000000,1,1,1,1,1,1,1]}]'
LATE_SCALE = 1_000_000


def decompress(data: bytes, compression: str | None) -> bytes:
    """The text of a streamed output: every gzip member or zstd frame, decompressed in turn."""
    if compression == "gzip":
        return gzip.decompress(data)
    if compression == "zstd":
        import zstandard

        reader = zstandard.ZstdDecompressor().stream_reader(
            io.BytesIO(data), read_across_frames=True
        )
        return reader.read()
    return data


def written(**options) -> bytes:
    """What tessary.write() puts into a file object."""
    import tessary

    out = io.BytesIO()
    tessary.write(out, **options)
    return out.getvalue()


def in_child(code: str, folder: object, *more: str) -> str:
    """Code for a fresh interpreter (run_python) that can import this module and finds the folder,
    then `more`, in sys.argv[1:]."""
    return (
        f"import sys; sys.path.insert(0, {HERE!r}); sys.argv[1:] = {[str(folder), *more]!r}\n"
        + code
    )


def interrupt(code: str, settle: Callable[[], None]) -> tuple[str, str, float]:
    """Runs code in a fresh interpreter; once it prints "ready" and settle() returns, sends it
    SIGINT. Returns its standard output and error, and the seconds from the signal to the next
    line it prints (its answer), not to its exit, which may first free large objects."""
    process = subprocess.Popen(
        [sys.executable, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True
    )
    try:
        assert process.stdout.readline().strip() == "ready"
        settle()
        sent = time.monotonic()
        process.send_signal(signal.SIGINT)
        answer = process.stdout.readline()
        elapsed = time.monotonic() - sent
        rest, err = process.communicate(timeout=30)
        return answer + rest, err, elapsed
    finally:
        process.kill()


def resident_kib() -> int:
    """The resident memory of this process, in KiB."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS")


TABLE_DIGESTS = """
import hashlib, sys, pyarrow as pa, tessary
if len(sys.argv) > 4:  # a data set's table
    t = tessary.Dataset(int(sys.argv[1]), sys.argv[3])[sys.argv[4]]
else:
    t = tessary.Table(int(sys.argv[1]), int(sys.argv[2]), sys.argv[3])
batches = pa.table(t).to_batches()
sink = pa.BufferOutputStream()
with pa.ipc.new_stream(sink, batches[0].schema) as w:
    [w.write_batch(b) for b in batches]
print(hashlib.sha256(t.text("jsonl").encode()).hexdigest(),
      hashlib.sha256(sink.getvalue()).hexdigest())
"""


def table_digests_by_threads(
    seed: int, scale: int, specs: str, threads: list[str], *, table: str | None = None
) -> list[str]:
    """The digests of a table's JSON Lines text and of its Arrow IPC stream, made in a fresh
    interpreter for each thread count. With `table`, `specs` is a data set document and the table
    is its table of that name (`scale` unused)."""
    outputs = []
    for count in threads:
        child = subprocess.run(
            [sys.executable, "-c", TABLE_DIGESTS, str(seed), str(scale), specs,
             *([table] if table else [])],
            env={**os.environ, "RAYON_NUM_THREADS": count},
            capture_output=True, text=True, timeout=120,
        )
        assert child.returncode == 0, child.stderr
        outputs.append(child.stdout)
    return outputs
