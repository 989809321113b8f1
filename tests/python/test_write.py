"""tessary.write and tessary.iter_text: the bytes they stream, and what a failure leaves behind."""

from __future__ import annotations

import errno
import gzip
import hashlib
import io
import json
import os
import stat
import subprocess
import sys
import textwrap
import threading
import time

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import tessary
from helpers import (
    AGE_SPECS,
    ALL_KINDS,
    FIVE_SPECS,
    LATE_FAILING,
    LATE_SCALE,
    decompress,
    in_child,
    interrupt,
    run_python,
    written,
)
from tessary import _engine

U64_MAX = 2**64 - 1


# In a child with RAYON_NUM_THREADS set: checks the texts against each other and prints the digests
# of the compressed outputs, which must not depend on the thread count.
THREADS_CHILD = """
import hashlib, sys, tessary
from helpers import ALL_KINDS, decompress, written
seed, n, a, b, folder = 99, 200_000, 12_345, 150_001, sys.argv[1]
expected = tessary.generate_entities(seed, n, ALL_KINDS).encode()
tessary.write(folder + "/all.json", seed, n, ALL_KINDS)
assert open(folder + "/all.json", "rb").read() == expected
lines = b"".join(
    written(seed=seed, scale=n, specs_json=ALL_KINDS, format="jsonl", start=start, stop=stop)
    for start, stop in [(0, a), (a, b), (b, n)]
)
assert lines.count(b"\\n") == n and b"[" + b",".join(lines.splitlines()) + b"]" == expected
digests = []
for format, compression, text in [("jsonl", "gzip", lines), ("json", "zstd", expected)]:
    packed = written(
        seed=seed, scale=n, specs_json=ALL_KINDS, format=format, compression=compression
    )
    assert decompress(packed, compression) == text, compression
    chunks = tessary.iter_text(seed, n, ALL_KINDS, format=format, compression=compression)
    assert b"".join(chunks) == packed
    digests.append(hashlib.sha256(packed).hexdigest())
print(*digests)
"""


@pytest.mark.slow
def test_same_bytes_and_same_compressed_bytes_under_any_thread_count(tmp_path):
    outputs = set()
    for threads in (1, 2, 8):
        result = run_python(
            in_child(THREADS_CHILD, tmp_path), {"RAYON_NUM_THREADS": str(threads)}, timeout=300
        )
        assert result.returncode == 0, result.stderr
        outputs.add(result.stdout)
    assert len(outputs) == 1


@settings(max_examples=40, deadline=None)
@given(st.integers(0, 3000).flatmap(lambda n: st.tuples(st.just(n), *[st.integers(0, n)] * 3)))
def test_ranges_concatenate_and_every_entity_keeps_its_text(cuts):
    scale, *points = cuts
    start, middle, stop = sorted(points)
    lines = written(seed=8, scale=scale, specs_json=ALL_KINDS, format="jsonl").splitlines(
        keepends=True
    )

    def part(a, b, format="jsonl"):
        return written(seed=8, scale=scale, specs_json=ALL_KINDS, format=format, start=a, stop=b)

    assert part(start, middle) + part(middle, stop) == b"".join(lines[start:stop])
    assert (
        part(start, stop, "json")
        == b"[" + b",".join(line[:-1] for line in lines[start:stop]) + b"]"
    )


@pytest.mark.parametrize(
    "start, stop, scale",
    [
        (U64_MAX - 3, None, U64_MAX),
        (U64_MAX - 1, U64_MAX, U64_MAX),
        (0, 3, U64_MAX),
        (2**63 - 1, 2**63 + 2, U64_MAX),
    ],
)
def test_ranges_near_the_top_of_u64_give_their_ids(start, stop, scale):
    ids = list(range(start, scale if stop is None else stop))
    options = {"seed": 5, "scale": scale, "specs_json": AGE_SPECS, "start": start, "stop": stop}
    lines = written(format="jsonl", **options)
    assert [json.loads(line)["id"] for line in lines.splitlines()] == ids
    assert [entity["id"] for entity in json.loads(written(format="json", **options))] == ids
    # Entity i has the same text whatever range it is written in.
    tail = written(format="jsonl", **{**options, "start": ids[-1], "stop": ids[-1] + 1})
    assert lines.endswith(tail)


@pytest.mark.parametrize(
    "format, compression, text",
    [
        ("json", None, b"[]"),
        ("jsonl", None, b""),
        ("jsonl", "gzip", b""),
        ("jsonl", "zstd", b""),
        ("json", "gzip", b"[]"),
    ],
)
def test_an_empty_range_is_a_valid_stream(format, compression, text):
    data = written(
        seed=1,
        scale=10,
        specs_json=FIVE_SPECS,
        format=format,
        compression=compression,
        start=4,
        stop=4,
    )
    assert decompress(data, compression) == text
    # One empty member or frame.
    assert (len(data) > 0) == (compression is not None or format == "json")
    assert (
        b"".join(
            tessary.iter_text(
                1, 10, FIVE_SPECS, format=format, compression=compression, start=4, stop=4
            )
        )
        == data
    )


def hexdigest(algorithm: str, data: bytes) -> str:
    """SHA-256 by hashlib; XXH3-128 by the engine's hasher, whose known values its C++ tests pin."""
    if algorithm == "sha256":
        return hashlib.sha256(data).hexdigest()
    digest = _engine.Hasher(algorithm)
    digest.update(data)
    return digest.hexdigest()


@pytest.mark.parametrize("digest", [True, "xxh128"])
@pytest.mark.parametrize(
    "name, options, compression",
    [
        ("out.json", {}, None),
        ("out.jsonl.gz", {"level": 1}, "gzip"),
        ("out.ndjson.zst", {}, "zstd"),
        ("out.data", {"format": "json", "compression": "gzip"}, "gzip"),
    ],
)
def test_paths_get_format_and_compression_from_their_suffix_and_digests_match(
    tmp_path, name, options, compression, digest
):
    result = tessary.write(tmp_path / name, 3, 5000, ALL_KINDS, digest=digest, **options)
    data = (tmp_path / name).read_bytes()
    text = decompress(data, compression)
    array = text if text.startswith(b"[") else b"[" + b",".join(text.splitlines()) + b"]"
    assert array == tessary.generate_entities(3, 5000, ALL_KINDS).encode()
    algorithm = "sha256" if digest is True else digest
    sha256 = algorithm == "sha256"
    assert result == tessary.WriteResult(
        entities=5000, text_bytes=len(text), bytes_written=len(data),
        sha256=hexdigest(algorithm, data) if sha256 else None,
        text_sha256=hexdigest(algorithm, text) if sha256 else None,
        digest=hexdigest(algorithm, data), text_digest=hexdigest(algorithm, text),
        digest_algorithm=algorithm,
    )
    assert sorted(os.listdir(tmp_path)) == [name]
    assert stat.S_IMODE(os.stat(tmp_path / name).st_mode) == 0o666 & ~current_umask()


@pytest.mark.parametrize("level", [None, 0, 12])
def test_gzip_output_is_read_by_pythons_gzip_and_the_gzip_command(tmp_path, level):
    path = tmp_path / "out.jsonl.gz"
    tessary.write(path, 4, 30_000, FIVE_SPECS, level=level)
    plain = written(seed=4, scale=30_000, specs_json=FIVE_SPECS, format="jsonl")
    data = path.read_bytes()
    assert data.count(b"\x1f\x8b\x08\x00\x00\x00\x00\x00") > 2  # several members
    assert gzip.decompress(data) == plain
    command = subprocess.run(["gzip", "-dc", str(path)], capture_output=True, check=True)
    assert command.stdout == plain


def current_umask() -> int:
    mask = os.umask(0o022)
    os.umask(mask)
    return mask


def test_progress_callable_sees_entities_since_start():
    seen: list[tuple[int, int]] = []
    tessary.write(
        io.BytesIO(),
        1,
        300_000,
        FIVE_SPECS,
        format="jsonl",
        start=1000,
        progress=lambda *a: seen.append(a),
    )
    assert seen[-1] == (299_000, 299_000)
    assert all(total == 299_000 for _, total in seen)
    assert [done for done, _ in seen] == sorted(done for done, _ in seen)


class Raising:
    def __call__(self, done, total):
        raise RuntimeError("stopped by the progress callable")


@pytest.mark.parametrize(
    "specs, options, error, message",
    [
        ('[{"name":"a"', {}, ValueError, "EOF while parsing an object at line 1 column 12"),
        ('[{"name":"a","type":"normal","mean":0}]', {}, ValueError, "missing field `std_dev`"),
        (FIVE_SPECS, {"start": 5, "stop": 4}, ValueError, "0 <= start <= stop <= scale"),
        (FIVE_SPECS, {"stop": LATE_SCALE + 1}, ValueError, "0 <= start <= stop <= scale"),
        (FIVE_SPECS, {"format": "csv"}, ValueError, "the accepted ones are json, jsonl"),
        (FIVE_SPECS, {"compression": "lz4"}, ValueError, "the accepted ones are gzip, zstd"),
        (FIVE_SPECS, {"level": 3}, ValueError, "needs a compression"),
        (FIVE_SPECS, {"compression": "gzip", "level": 13}, ValueError, "gzip levels are 0 to 12"),
        (FIVE_SPECS, {"compression": "gzip", "level": 2**70}, ValueError, f"not {2**70}"),
        (FIVE_SPECS, {"compression": "zstd", "level": -(2**40)}, ValueError, f"not {-(2**40)}"),
        (LATE_FAILING, {}, BaseException, "index out of bounds: the len is 1 but the index is 6"),
        (FIVE_SPECS, {"progress": Raising()}, RuntimeError, "stopped by the progress callable"),
    ],
)
@pytest.mark.parametrize("existing", [None, b"what was there"])
def test_a_failed_write_leaves_nothing_and_an_existing_target_untouched(
    tmp_path, specs, options, error, message, existing
):
    target = tmp_path / "out.jsonl"
    if existing is not None:
        target.write_bytes(existing)
    with pytest.raises(error) as caught:
        tessary.write(target, 11, LATE_SCALE, specs, **options)
    assert message in str(caught.value)
    assert os.listdir(tmp_path) == ([] if existing is None else ["out.jsonl"])
    if existing is not None:
        assert target.read_bytes() == existing
    if error is ValueError:  # raised at the call by iter_text as well
        with pytest.raises(ValueError, match=message.replace("`", ".")):
            tessary.iter_text(11, LATE_SCALE, specs, **{"format": "jsonl", **options})


@pytest.mark.parametrize(
    "target, options, error, message",
    [
        (io.StringIO(), {"format": "json"}, TypeError, "binary mode"),
        (io.BytesIO(), {}, ValueError, "no format given and a file object"),
        ("out.txt", {}, ValueError, "does not say it: the accepted ones are json, jsonl"),
        ("", {"format": "json"}, ValueError, "an empty path names no file"),
        (42, {"format": "json"}, TypeError, "path or a writable binary file object"),
        ("out.json", {"digest": "md5"}, ValueError, "the accepted ones are sha256, xxh128"),
        ("out.json", {"digest": 1}, TypeError, "digest must be True, False or one of"),
    ],
)
def test_targets_that_cannot_be_used_are_refused_before_anything_happens(
    tmp_path, monkeypatch, target, options, error, message
):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(error, match=message):
        tessary.write(target, 1, 10, FIVE_SPECS, **options)
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize(
    "make, errno_name",
    [
        (lambda d: d / "missing" / "out.json", "ENOENT"),
        (lambda d: d, "EISDIR"),
        (lambda d: d / "x" / "out.json", "ENOTDIR"),
    ],
)
def test_unwritable_targets_raise_os_error_with_errno_and_name(tmp_path, make, errno_name):
    (tmp_path / "x").write_bytes(b"a file, not a folder")
    target = make(tmp_path)
    with pytest.raises(OSError) as caught:
        tessary.write(target, 1, 10, FIVE_SPECS, format="json")
    assert os.strerror(caught.value.errno) == caught.value.strerror
    assert caught.value.errno == getattr(errno, errno_name)
    assert caught.value.filename == str(target)
    assert sorted(os.listdir(tmp_path)) == ["x"]


# Under a file-size limit a write fails with EFBIG (the signal it would also send is ignored).
FILE_SIZE_CHILD = """
import os, resource, signal, sys, tessary
from helpers import FIVE_SPECS
os.chdir(sys.argv[1])
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, resource.RLIM_INFINITY))
for name in ("new.jsonl.gz", "old.jsonl"):
    try:
        tessary.write(name, 1, 3_000_000, FIVE_SPECS, compression="gzip", level=0)
    except OSError as error:
        print(error.errno, error.filename)
"""


@pytest.mark.slow
def test_a_file_size_limit_raises_os_error_and_leaves_nothing(tmp_path):
    (tmp_path / "old.jsonl").write_bytes(b"old")
    result = run_python(in_child(FILE_SIZE_CHILD, tmp_path))
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["27 new.jsonl.gz", "27 old.jsonl"]  # EFBIG
    assert os.listdir(tmp_path) == ["old.jsonl"]
    assert (tmp_path / "old.jsonl").read_bytes() == b"old"


def test_devices_fifos_and_symlinks(tmp_path):
    before = os.stat("/dev/null")
    result = tessary.write("/dev/null", 1, 20_000, FIVE_SPECS, format="jsonl")
    assert result.entities == 20_000 and result.bytes_written == result.text_bytes > 0
    after = os.stat("/dev/null")
    assert (after.st_mode, after.st_rdev) == (before.st_mode, before.st_rdev)

    fifo = tmp_path / "pipe.json.gz"
    os.mkfifo(fifo)
    received: list[bytes] = []
    reader = threading.Thread(target=lambda: received.append(fifo.read_bytes()), daemon=True)
    reader.start()
    tessary.write(fifo, 1, 20_000, FIVE_SPECS)
    reader.join(timeout=60)
    assert gzip.decompress(received[0]).decode() == tessary.generate_entities(1, 20_000, FIVE_SPECS)
    assert stat.S_ISFIFO(os.stat(fifo).st_mode) and os.listdir(tmp_path) == ["pipe.json.gz"]

    # A link's target is replaced, the link stays.
    (tmp_path / "real.json").write_bytes(b"old")
    (tmp_path / "link.json").symlink_to("real.json")
    tessary.write(tmp_path / "link.json", 1, 2, "[]")
    assert (tmp_path / "real.json").read_bytes() == b'[{"id":0},{"id":1}]'
    assert os.readlink(tmp_path / "link.json") == "real.json"


STDOUT_CHILD = """
import tessary
from tessary import _engine
print("before", flush=True)
tessary.write("/dev/stdout", 1, 2, "[]", format="jsonl")
print("after")
"""


@pytest.mark.parametrize("stdout", ["pipe", "file"])
def test_dev_stdout_is_written_through_the_descriptor_between_other_output(tmp_path, stdout):
    # Neither a name to rename over (the shell's file would lose what the process writes around
    # the call) nor one to open anew (a pipe has no name).
    expected = 'before\n{"id":0}\n{"id":1}\nafter\n'
    if stdout == "pipe":
        result = run_python(STDOUT_CHILD)
        assert (result.returncode, result.stdout) == (0, expected), result.stderr
    else:
        with open(tmp_path / "out", "wb") as out:
            assert subprocess.run([sys.executable, "-c", STDOUT_CHILD], stdout=out).returncode == 0
        assert (tmp_path / "out").read_text() == expected


# Writes the late-failing specs from two starts to a path and a file object, and prints what each
# raised and what was left.
LOWEST_FAILURE_CHILD = """
import io, os, sys, tessary
from helpers import LATE_FAILING, LATE_SCALE, written
os.chdir(sys.argv[1])
for start in (0, 86_353):
    try:
        tessary.write("out.jsonl", 11, LATE_SCALE, LATE_FAILING, start=start)
    except tessary.PanicException as error:
        print(error, os.listdir("."))
    kept = io.BytesIO()
    try:
        tessary.write(kept, 11, LATE_SCALE, LATE_FAILING, format="jsonl", start=start)
    except tessary.PanicException as error:
        lines = kept.getvalue().count(b"\\n")
        # What the file object kept is the text of the entities before the failing block.
        assert 0 < lines and kept.getvalue() == written(
            seed=11, scale=LATE_SCALE, specs_json=LATE_FAILING, format="jsonl", start=start,
            stop=start + lines,
        )
        print(error)
"""


@pytest.mark.slow
def test_the_lowest_failing_entity_decides_under_any_thread_count(tmp_path):
    with pytest.raises(BaseException) as caught:
        tessary.generate_entities(11, LATE_SCALE, LATE_FAILING)
    whole = str(caught.value)
    expected = [f"{whole} []", whole, "index out of bounds: the len is 1 but the index is 5 []",
                "index out of bounds: the len is 1 but the index is 5"]
    for threads in (1, 2, 8):
        result = run_python(
            in_child(LOWEST_FAILURE_CHILD, tmp_path), {"RAYON_NUM_THREADS": str(threads)}
        )
        assert result.returncode == 0, result.stderr
        assert result.stdout.splitlines() == expected, threads
        assert "panicked" not in result.stderr  # no native report from the streaming functions


@pytest.mark.parametrize("first_use", ["tessary.PanicException", "core", "write"])
def test_one_panic_exception_for_both_modules(first_use):
    code = textwrap.dedent(
        f"""
        import io, tessary
        bad = '[{{"name":"a","type":"uniform_int","low":1,"high":0}}]'
        calls = {{"core": lambda: tessary.generate_entities(1, 1, bad),
                  "write": lambda: tessary.write(io.BytesIO(), 1, 1, bad, format="json")}}
        first = {first_use!r}
        if first == "tessary.PanicException":
            tessary.PanicException
        else:
            try:
                calls[first]()
            except BaseException:
                pass
        for name in ("core", "write"):
            try:
                calls[name]()
            except tessary.PanicException as error:
                kind = type(error)
                print(name, error.args, kind.__name__, kind.__module__, kind.__bases__[0].__name__)
        """
    )
    result = run_python(code)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "core ('cannot sample empty range',) PanicException tessary BaseException",
        "write ('cannot sample empty range',) PanicException tessary BaseException",
    ]


def test_iter_text_streams_in_order_and_can_be_closed_or_dropped():
    chunks = tessary.iter_text(5, 400_000, FIVE_SPECS, start=1)
    first = next(chunks)
    assert first.startswith(b'{"id":1,') and first.endswith(b"\n")
    chunks.close()
    assert list(chunks) == []
    dropped = tessary.iter_text(5, 400_000, FIVE_SPECS)
    next(dropped)
    del dropped  # cancels: nothing to assert but that it neither hangs nor crashes
    assert (
        b"".join(tessary.iter_text(5, 3, FIVE_SPECS, format="json"))
        == tessary.generate_entities(5, 3, FIVE_SPECS).encode()
    )


SIGINT_CHILD = """
import os, signal, sys, tessary
from helpers import FIVE_SPECS
signal.signal(signal.SIGINT, signal.default_int_handler)  # a background job starts with it ignored
os.chdir(sys.argv[1])
print("ready", flush=True)
try:
    tessary.write(sys.argv[2], 1, 10**9, FIVE_SPECS, format="jsonl")
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted", flush=True)
"""


@pytest.mark.slow
@pytest.mark.parametrize("target", ["big.jsonl.zst", "unread fifo"])
def test_sigint_stops_a_billion_entity_write_within_a_second(tmp_path, target):
    unread = None
    if target == "unread fifo":  # opened for reading, never read: the writer blocks on a full pipe
        os.mkfifo(tmp_path / target)
        unread = os.open(tmp_path / target, os.O_RDONLY | os.O_NONBLOCK)

    def settle() -> None:  # until the write is under way
        deadline = time.monotonic() + 30
        while not os.listdir(tmp_path) and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(0.5)

    try:
        out, err, elapsed = interrupt(in_child(SIGINT_CHILD, tmp_path, target), settle)
    finally:
        if unread is not None:
            os.close(unread)
    assert out.strip() == "interrupted", err
    assert elapsed < 1.0
    assert os.listdir(tmp_path) == ([] if unread is None else [target])


@pytest.mark.slow
@pytest.mark.parametrize("target", ["/dev/null", "file object"])
def test_other_threads_run_during_a_long_write(tmp_path, target):
    stalls: list[float] = []
    done = threading.Event()

    def ticker() -> None:
        last = time.perf_counter()
        while not done.is_set():
            time.sleep(0.001)
            now = time.perf_counter()
            stalls.append(now - last)
            last = now

    thread = threading.Thread(target=ticker)
    thread.start()
    try:
        if target == "file object":  # written with the GIL held, chunk by chunk
            with open(tmp_path / "out", "wb") as file:
                tessary.write(file, 1, 3_000_000, FIVE_SPECS, format="jsonl")
        else:
            tessary.write(target, 1, 3_000_000, FIVE_SPECS, format="jsonl")
    finally:
        done.set()
        thread.join()
    assert len(stalls) > 100  # the ticker ran throughout
    assert max(stalls) < 0.1


class TakingAHundred(io.RawIOBase):
    """A raw file that takes at most 100 bytes a call."""

    def __init__(self) -> None:
        self.data = bytearray()

    def writable(self) -> bool:
        return True

    def write(self, data) -> int:
        piece = bytes(memoryview(data)[:100])
        self.data += piece
        return len(piece)


def through_non_blocking_pipe(write) -> bytes:
    """What a reader of a non-blocking pipe receives while write(raw file of its end) runs."""
    read_end, write_end = os.pipe()
    os.set_blocking(write_end, False)
    received = bytearray()

    def read() -> None:
        while chunk := os.read(read_end, 1 << 16):
            received.extend(chunk)
            time.sleep(0.0005)  # slower than the writer: the pipe fills

    reader = threading.Thread(target=read)
    reader.start()
    try:
        with open(write_end, "wb", buffering=0) as raw:
            write(raw)
    finally:
        reader.join()
        os.close(read_end)
    return bytes(received)


@pytest.mark.parametrize("format", ["jsonl", "parquet"])
@pytest.mark.parametrize("target", ["non-blocking pipe", "100 bytes a call"])
def test_a_file_object_that_takes_part_of_each_write_gets_everything(format, target):
    options = {"seed": 3, "scale": 200_000, "specs_json": FIVE_SPECS, "format": format}
    expected = written(**options)
    results = []
    if target == "non-blocking pipe":
        received = through_non_blocking_pipe(
            lambda raw: results.append(tessary.write(raw, **options))
        )
    else:
        file = TakingAHundred()
        results.append(tessary.write(file, **options))
        received = bytes(file.data)
    assert received == expected
    assert results[0].bytes_written == len(expected)


@pytest.mark.parametrize("format", ["jsonl", "parquet"])
@pytest.mark.parametrize("returned", [-1, 0, "x", 1.5, None, 10**30])
def test_a_write_method_returning_nonsense_is_an_error_naming_what_it_returned(format, returned):
    class Answering(io.RawIOBase):
        def writable(self) -> bool:
            return True

        def write(self, data):
            return returned

    with pytest.raises(OSError, match=rf"write\(\) returned {returned!r} for \d+ bytes"):
        tessary.write(Answering(), 1, 1000, FIVE_SPECS, format=format)


# A choice between a one-byte text and a long one: entity 0 of seed 2 draws the short one, so
# sizing by entity 0 alone would put thousands of long texts in one block.
SHORT_OR_LONG = json.dumps([{"name": "v", "type": "choice", "values": ["a", "x" * 4000]}])
# A choice between an integer and a text is a column of JSON texts, up to 102 bytes a cell.
NUMBER_OR_TEXT = json.dumps([{"name": "v", "type": "choice", "values": [1, "y" * 100]}])


def test_blocks_and_batches_stay_bounded_whatever_is_drawn():
    import pyarrow as pa

    assert next(tessary.iter_text(2, 10**7, SHORT_OR_LONG, stop=1)) == b'{"id":0,"v":"a"}\n'
    block = next(tessary.iter_text(2, 10**7, SHORT_OR_LONG))
    assert b"x" * 4000 in block and len(block) <= 4 << 20  # docs/streaming.md: 4 MiB
    reader = pa.RecordBatchReader.from_stream(tessary.generate_batches(2, 10**7, NUMBER_OR_TEXT))
    assert reader.read_next_batch().nbytes <= 64 << 20  # docs/columns.md: 64 MiB


def test_a_parquet_row_group_closes_at_its_byte_bound(tmp_path, monkeypatch):
    import pyarrow as pa
    import pyarrow.parquet as pq

    from tessary import parquet

    monkeypatch.setattr(parquet, "PARQUET_GROUP_BYTES", 1)  # every batch closes its group
    specs = json.dumps([{"name": "v", "type": "choice", "values": [1, "z" * (1 << 16)]}])
    batches = pa.RecordBatchReader.from_stream(tessary.generate_batches(1, 10**6, specs))
    rows_per_batch = batches.read_next_batch().num_rows
    tessary.write(tmp_path / "long.parquet", 1, 2 * rows_per_batch + 1, specs)
    groups = pq.ParquetFile(tmp_path / "long.parquet").metadata.num_row_groups
    assert groups == 3
