"""Partitioned data sets on Dask, on a real cluster of local worker processes writing under
pytest's tmp_path (an in-memory filesystem would be private to each process)."""

from __future__ import annotations

import gzip
import hashlib
import json
import os
import pathlib
import signal
import threading
import time

import dask
import pandas as pd
import pytest
import zstandard

import tessary
import tessary.dask as tdask

SPECS = (pathlib.Path(__file__).resolve().parents[2] / "examples" / "five_specs.json").read_text()
SCALE = 10**6

cluster_test = pytest.mark.slow


@pytest.fixture(scope="module")
def client():
    from distributed import Client, LocalCluster

    # One pool thread per worker process: the machine has few cores.
    cluster = LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
        env={"RAYON_NUM_THREADS": "1"},
    )
    client = Client(cluster)
    yield client
    client.close()
    cluster.close()


@pytest.fixture(scope="module")
def whole(tmp_path_factory) -> bytes:
    """The JSON Lines text of the whole range, from one call of tessary.write."""
    path = tmp_path_factory.mktemp("whole") / "whole.jsonl"
    tessary.write(path, 7, SCALE, SPECS)
    return path.read_bytes()


def parts_of(folder: pathlib.Path) -> list[pathlib.Path]:
    return sorted(folder.glob("part-*"))


def concatenated(folder: pathlib.Path) -> bytes:
    return b"".join(path.read_bytes() for path in parts_of(folder))


@cluster_test
def test_parts_join_into_the_one_machine_output(client, whole, tmp_path):
    folder = tmp_path / "set"
    reports: list[tuple[int, int]] = []
    summary = tdask.write(
        str(folder),
        7,
        SCALE,
        SPECS,
        rows_per_partition=150_001,
        progress=lambda *done: reports.append(done),
    )
    assert reports[-1] == (SCALE, SCALE) and reports == sorted(reports)
    parts = parts_of(folder)
    assert len(parts) == 7 and parts[-1].name.endswith(f"-{SCALE:020d}.jsonl")
    assert concatenated(folder) == whole
    manifest = json.loads((folder / tdask.MANIFEST).read_text())
    assert [record["name"] for record in manifest["parts"]] == [path.name for path in parts]
    for record, path in zip(manifest["parts"], parts, strict=True):
        data = path.read_bytes()
        assert record["bytes"] == len(data)
        assert record["sha256"] == record["text_sha256"] == hashlib.sha256(data).hexdigest()
    assert summary.written == [path.name for path in parts]
    assert tdask.verify(str(folder), regenerate=2) == []


def worker_writing_in(pids: list[int], folder: pathlib.Path) -> int | None:
    """The worker process that has a file of the folder open, if one has."""
    for pid in pids:
        try:
            for fd in os.listdir(f"/proc/{pid}/fd"):
                if os.readlink(f"/proc/{pid}/fd/{fd}").startswith(str(folder) + "/."):
                    return pid
        except OSError:  # the process or the descriptor went away meanwhile
            continue
    return None


@cluster_test
@pytest.mark.skipif(
    not os.path.isdir("/proc/self/fd"), reason="finds the writing worker through /proc"
)
def test_a_killed_worker_leaves_no_half_written_part(client, whole, tmp_path):
    folder = tmp_path / "set"
    pids = list(client.run(os.getpid).values())
    outcome: dict[str, object] = {}

    def run() -> None:
        try:
            outcome["summary"] = tdask.write(str(folder), 7, SCALE, SPECS, partitions=8)
        except BaseException as error:  # reported by the test's thread
            outcome["error"] = error

    writer = threading.Thread(target=run)
    writer.start()
    killed = None
    while killed is None and writer.is_alive():
        killed = worker_writing_in(pids, folder)
    assert killed is not None, "no worker was seen writing a part"
    os.kill(killed, signal.SIGKILL)
    writer.join(60)

    if "error" in outcome:  # the call may give up; then the same call resumes the data set
        tdask.write(str(folder), 7, SCALE, SPECS, partitions=8)
    assert concatenated(folder) == whole
    assert [path.name for path in folder.iterdir() if path.name.startswith(".")] == []
    assert tdask.verify(str(folder)) == []
    client.wait_for_workers(2, timeout=30)


@cluster_test
def test_resume_writes_only_missing_parts_and_verify_names_what_is_wrong(client, tmp_path):
    folder, scale = tmp_path / "set", 70_000
    tdask.write(str(folder), 7, scale, SPECS, partitions=7)
    parts = parts_of(folder)
    original = {path.name: path.read_bytes() for path in parts}
    removed = [parts[1].name, parts[5].name]
    for name in removed:
        (folder / name).unlink()
    kept = {path.name: os.stat(path).st_ino for path in parts if path.name not in removed}
    stale = folder / f".{removed[0]}.from-a-lost-attempt.part"
    stale.write_bytes(b'{"id":')

    summary = tdask.write(str(folder), 7, scale, SPECS, partitions=7)
    assert summary.written == removed and not stale.exists()
    assert {name: os.stat(folder / name).st_ino for name in kept} == kept
    assert {path.name: path.read_bytes() for path in parts_of(folder)} == original

    flipped = parts[3]
    data = bytearray(flipped.read_bytes())
    data[len(data) // 2] ^= 0x01
    flipped.write_bytes(bytes(data))
    (folder / "notes.txt").write_text("not a part")
    problems = tdask.verify(str(folder))
    assert sorted(problem.name for problem in problems) == sorted([flipped.name, "notes.txt"])
    assert all(problem.name in str(problem) for problem in problems)

    with pytest.raises(ValueError, match="other parameters .*seed"):
        tdask.write(str(folder), 8, scale, SPECS, partitions=7)
    # Refused: nothing touched.
    assert (folder / "notes.txt").exists() and flipped.read_bytes() == bytes(data)


@cluster_test
def test_regenerate_finds_a_part_that_agrees_with_its_manifest_but_not_with_the_specs(
    client, tmp_path
):
    # A part and its manifest record taken from a data set of another seed: sizes and digests
    # agree, only regeneration can tell.
    good, other, scale = tmp_path / "good", tmp_path / "other", 40_000
    tdask.write(str(good), 7, scale, SPECS, partitions=4, compression="gzip")
    tdask.write(str(other), 8, scale, SPECS, partitions=4, compression="gzip")
    name = parts_of(good)[2].name
    (good / name).write_bytes((other / name).read_bytes())
    manifest = json.loads((good / tdask.MANIFEST).read_text())
    other_records = json.loads((other / tdask.MANIFEST).read_text())["parts"]
    manifest["parts"][2] = other_records[2]
    (good / tdask.MANIFEST).write_text(json.dumps(manifest))

    assert tdask.verify(str(good)) == []
    assert [problem.name for problem in tdask.verify(str(good), regenerate=4)] == [name]


@pytest.mark.parametrize("compression, decompress", [("gzip", gzip.decompress), ("zstd", None)])
def test_a_filesystem_without_local_paths(compression, decompress, tmp_path):
    # Parts streamed into fsspec files under temporary names, then moved; the local scheduler.
    if decompress is None:
        decompress = lambda data: (  # noqa: E731
            zstandard.ZstdDecompressor().decompressobj(read_across_frames=True).decompress(data)
        )
    url, scale = f"memory://tessary-{compression}/set", 30_000
    expected = tmp_path / "whole.jsonl"
    tessary.write(expected, 7, scale, SPECS)
    with dask.config.set(scheduler="threads"):
        summary = tdask.write(
            url, 7, scale, SPECS, compression=compression, partitions=3, progress=lambda *_: None
        )
        import fsspec

        fs = fsspec.filesystem("memory")
        names = sorted(name for name in fs.ls(url, detail=False) if "part-" in name)
        assert len(names) == 3 and all(name.endswith((".gz", ".zst")) for name in names)
        assert b"".join(decompress(fs.cat_file(name)) for name in names) == expected.read_bytes()
        assert [record["text_sha256"] for record in summary.parts] == [
            hashlib.sha256(decompress(fs.cat_file(name))).hexdigest() for name in names
        ]
        assert tdask.verify(url, regenerate=3) == []
        fs.rm(url, recursive=True)


def remove(path: pathlib.Path) -> None:
    path.unlink()


def edit(path: pathlib.Path, change) -> None:
    """Rewrites a JSON document as change(document) leaves it."""
    document = json.loads(path.read_text())
    change(document)
    path.write_text(json.dumps(document))


def drop_second_part(folder: pathlib.Path, parts: list[pathlib.Path]) -> None:
    edit(folder / tdask.MANIFEST, lambda manifest: manifest["parts"].pop(1))
    remove(parts[1])


@pytest.mark.parametrize(
    "damage, named",
    [
        (lambda folder, parts: remove(folder / tdask.MANIFEST), lambda parts: [tdask.MANIFEST]),
        (
            lambda folder, parts: (folder / tdask.MANIFEST).write_text("{"),
            lambda parts: [tdask.MANIFEST],
        ),
        (lambda folder, parts: remove(parts[0]), lambda parts: [parts[0].name]),
        (
            lambda folder, parts: parts[1].write_bytes(parts[1].read_bytes()[:-1]),
            lambda parts: [parts[1].name],
        ),
        (
            lambda folder, parts: (folder / f".{parts[2].name}.x1.part").write_bytes(b"{"),
            lambda parts: [f".{parts[2].name}.x1.part"],
        ),
        (
            lambda folder, parts: parts[2].write_bytes(b"\0" * parts[2].stat().st_size),
            lambda parts: [parts[2].name],
        ),
        # Documents with fields of the wrong type, and a manifest that leaves a range out.
        (
            lambda folder, parts: edit(
                folder / tdask.MANIFEST, lambda manifest: manifest["parts"][0].update(start="0")
            ),
            lambda parts: [tdask.MANIFEST],
        ),
        (
            lambda folder, parts: edit(
                folder / tdask.MANIFEST, lambda manifest: manifest["parts"][0].update(name=["x"])
            ),
            lambda parts: [tdask.MANIFEST],
        ),
        (
            lambda folder, parts: (
                remove(folder / tdask.MANIFEST),
                edit(folder / tdask.INTENT, lambda intent: intent.update(seed="7")),
            ),
            lambda parts: [tdask.MANIFEST, tdask.INTENT],
        ),
        (drop_second_part, lambda parts: [parts[1].name]),
    ],
)
def test_verify_names_each_kind_of_damage(damage, named, tmp_path):
    folder = tmp_path / "set"
    with dask.config.set(scheduler="sync"):
        tdask.write(str(folder), 7, 3_000, SPECS, partitions=3, compression="gzip")
        parts = parts_of(folder)
        damage(folder, parts)
        assert [problem.name for problem in tdask.verify(str(folder), regenerate=3)] == named(parts)


def test_an_xxh128_manifest_verifies_catches_a_flipped_byte_and_resumes_as_sha256(tmp_path):
    folder = tmp_path / "set"
    with dask.config.set(scheduler="sync"):
        tdask.write(
            str(folder), 7, 30_000, SPECS, partitions=3, compression="gzip", digest="xxh128"
        )
        manifest = json.loads((folder / tdask.MANIFEST).read_text())
        parts = parts_of(folder)
        assert manifest["digest"] == "xxh128"
        for record, path in zip(manifest["parts"], parts, strict=True):
            data = path.read_bytes()
            assert "sha256" not in record
            assert record["xxh128"] == xxh128(data)
            assert record["text_xxh128"] == xxh128(gzip.decompress(data))
        assert tdask.verify(str(folder), regenerate=3) == []

        # The same data set asked with SHA-256: nothing rewritten, every part hashed again.
        summary = tdask.write(str(folder), 7, 30_000, SPECS, partitions=3, compression="gzip")
        assert summary.written == []
        assert [record["sha256"] for record in summary.parts] == [
            hashlib.sha256(path.read_bytes()).hexdigest() for path in parts
        ]
        tdask.write(
            str(folder), 7, 30_000, SPECS, partitions=3, compression="gzip", digest="xxh128"
        )

        data = bytearray(parts[1].read_bytes())
        data[len(data) // 2] ^= 0x01
        parts[1].write_bytes(bytes(data))
        assert [str(problem) for problem in tdask.verify(str(folder))] == [
            f"{parts[1].name}: its XXH3-128 differs from the manifest's"
        ]


def xxh128(data: bytes) -> str:
    digest = tessary._engine.Hasher("xxh128")
    digest.update(data)
    return digest.hexdigest()


def test_verify_where_there_is_no_data_set(tmp_path):
    (tmp_path / "file").write_text("")
    (tmp_path / "empty").mkdir()
    assert [
        str(problem)
        for name in ("none", "file", "empty")
        for problem in tdask.verify(str(tmp_path / name))
    ] == [
        f"{tmp_path}/none: no such folder",
        f"{tmp_path}/file: a file, not a data set folder",
        f"{tmp_path}/empty: holds no data set (no _tessary.json and no _manifest.json)",
    ]


@pytest.mark.parametrize(
    "arguments, message",
    [
        ({"partitions": 2, "rows_per_partition": 10}, "not both"),
        ({"partitions": 0}, "partitions must be between 1"),
        ({"partitions": 11}, "partitions must be between 1"),
        ({"rows_per_partition": 0}, "at least 1"),
        ({"format": "csv"}, "unknown format 'csv'"),
        ({"compression": "lz4"}, "unknown compression 'lz4'"),
        ({"digest": "md5"}, "unknown digest 'md5'"),
        ({"digest": False}, "manifest holds digests"),
        ({"specs": "[{\"name\":\"x\",\"type\":\"nope\"}]"}, "nope"),
    ],
)
def test_bad_arguments_create_nothing(arguments, message, tmp_path):
    specs = arguments.pop("specs", SPECS)
    with pytest.raises(ValueError, match=message):
        tdask.write(str(tmp_path / "set"), 7, 10, specs, **arguments)
    assert not (tmp_path / "set").exists()


def test_a_whole_table_stands_for_its_arguments_and_a_slice_is_refused(tmp_path):
    table = tessary.Table(7, 1_000, SPECS)
    given = tdask.write(str(tmp_path / "table"), table, partitions=3)
    named = tdask.write(str(tmp_path / "arguments"), 7, 1_000, SPECS, partitions=3)
    assert given.parts == named.parts
    frame = tdask.dataframe(table, partitions=2).compute()
    assert frame.equals(tdask.dataframe(7, 1_000, SPECS, partitions=2).compute())
    with pytest.raises(ValueError, match="slice"):
        tdask.write(str(tmp_path / "slice"), table[1:])
    assert not (tmp_path / "slice").exists()


def test_the_default_partitioning_depends_on_the_data_only():
    ranges = tdask.plan_ranges(7, 10**8, SPECS)
    sizes = {stop - start for start, stop in ranges[:-1]}
    assert len(sizes) == 1 and ranges[0][0] == 0 and ranges[-1][1] == 10**8
    assert all(a[1] == b[0] for a, b in zip(ranges, ranges[1:], strict=False))
    # About 128 MB of text per part: check against a real part's text.
    rows = sizes.pop()
    text = sum(
        len(chunk)
        for chunk in tessary.iter_text(7, 10**8, SPECS, start=5 * 10**7, stop=5 * 10**7 + rows)
    )
    assert 0.9 * tdask.PART_TEXT_BYTES < text < 1.1 * tdask.PART_TEXT_BYTES
    assert tdask.plan_ranges(7, 0, SPECS) == [(0, 0)]


def test_no_partitioning_makes_more_than_the_stated_limit():
    most = tdask.MAX_PARTITIONS
    for arguments in ({"partitions": most + 1}, {"rows_per_partition": 10**9 // most - 1}):
        with pytest.raises(ValueError, match=str(most)):
            tdask.plan_ranges(7, 10**9, SPECS, **arguments)
    assert len(tdask.plan_ranges(7, 10**9, SPECS, partitions=most)) == most
    ranges = tdask.plan_ranges(7, 2**64 - 1, SPECS)
    assert len(ranges) <= most and ranges[-1][1] == 2**64 - 1


needs_batches = pytest.mark.skipif(
    not hasattr(tessary, "generate_batches"),
    reason="the columnar batches are not in this build yet",
)


def batches_table(scale: int, start: int, stop: int):
    import pyarrow as pa

    stream = tessary.generate_batches(7, scale, SPECS, start=start, stop=stop)
    return pa.RecordBatchReader.from_stream(stream).read_all()


@needs_batches
@cluster_test
def test_the_dataframe_holds_the_batches_with_known_divisions(client):
    frame = tdask.dataframe(7, 50_000, SPECS, partitions=3)
    assert frame.divisions == (0, 16_666, 33_333, 49_999)
    computed = frame.compute()
    dtypes = tessary.dask.frames._pandas_dtype
    expected = batches_table(50_000, 0, 50_000).to_pandas(types_mapper=dtypes)
    assert list(computed.index) == list(expected.iloc[:, 0])
    assert computed.reset_index(drop=True).equals(expected.iloc[:, 1:].reset_index(drop=True))
    second = frame.get_partition(1).compute()
    assert second.index[0] == 16_666 and second.index[-1] == 33_332


@needs_batches
@cluster_test
def test_parquet_parts_hold_the_batches(client, tmp_path):
    import pyarrow.parquet as pq

    folder = tmp_path / "set"
    tdask.write(str(folder), 7, 30_000, SPECS, format="parquet", partitions=3)
    parts = parts_of(folder)
    assert [path.suffix for path in parts] == [".parquet"] * 3
    start = 0
    for path in parts:
        table = pq.read_table(path)
        assert table.equals(batches_table(30_000, start, start + table.num_rows))
        start += table.num_rows
    assert start == 30_000
    assert tdask.verify(str(folder), regenerate=1) == []


@needs_batches
def test_partitions_with_nulls_keep_the_column_types_and_the_values_of_the_text():
    specs = json.dumps(
        [
            {"name": "b", "type": "choice", "values": [True, False, None]},
            {"name": "n", "type": "choice", "values": [9007199254740993, -3, None]},
            {"name": "x", "type": "choice", "values": [0.1, None]},
        ]
    )
    frame = tdask.dataframe(7, 600, specs, partitions=3)
    with dask.config.set(scheduler="sync"):
        computed = frame.compute()
    assert dict(computed.dtypes) == dict(frame.dtypes)
    rows = [json.loads(line) for line in b"".join(tessary.iter_text(7, 600, specs)).splitlines()]
    assert computed["b"].isna().any() and computed["n"].isna().any()
    for name in ("b", "n", "x"):
        cells = [None if cell is pd.NA else cell for cell in computed[name]]
        assert cells == [row[name] for row in rows], name
    assert (computed["b"] == True).sum() == sum(row["b"] is True for row in rows)  # noqa: E712


# A part that takes seconds: a weighted pick among 2000 values whose weights' sum must be scaled,
# which the pick's search does not cover, scans about a thousand weights.
SLOW_SPECS = json.dumps(
    [{"name": "k", "type": "choice", "values": list(range(2000)), "weights": [1e308] * 2000}]
)

CTRL_C_CHILD = """
import json, os, signal, sys, time
import dask
import tessary.dask as tdask
signal.signal(signal.SIGINT, signal.default_int_handler)  # a background job starts with it ignored
folder, specs = sys.argv[1], sys.argv[2]
print("ready", flush=True)
with dask.config.set(scheduler="threads", num_workers=2):
    try:
        tdask.write(folder, 1, 4 * 10**6, specs, partitions=4)
        print("finished", flush=True)
    except KeyboardInterrupt:
        print(sorted(os.listdir(folder)), flush=True)
        time.sleep(4)  # longer than a part takes
        print(sorted(os.listdir(folder)), flush=True)
"""


@pytest.mark.slow
def test_ctrl_c_cancels_the_parts_being_written_before_the_call_returns(tmp_path):
    from helpers import in_child, interrupt

    folder = tmp_path / "set"

    def settle() -> None:  # until parts are being written
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if folder.is_dir() and any(n.startswith(".part-") for n in os.listdir(folder)):
                return
            time.sleep(0.01)
        raise AssertionError("no part was being written")

    out, err, elapsed = interrupt(in_child(CTRL_C_CHILD, folder, SLOW_SPECS), settle)
    assert out.splitlines() == [repr([tdask.INTENT])] * 2, err
    assert elapsed < 3


def test_every_renamed_file_is_flushed_before_its_rename_and_its_folder_after(
    tmp_path, monkeypatch
):
    events: list[tuple[str, str]] = []
    sync, replace = os.fsync, os.replace

    def recording_sync(fd: int) -> None:
        events.append(("sync", os.readlink(f"/proc/self/fd/{fd}")))
        sync(fd)

    def recording_replace(source, target) -> None:
        events.append(("replace", f"{source} {target}"))
        replace(source, target)

    monkeypatch.setattr(os, "fsync", recording_sync)
    monkeypatch.setattr(os, "replace", recording_replace)
    folder = tmp_path / "set"
    with dask.config.set(scheduler="sync"):
        tdask.write(str(folder), 7, 3_000, SPECS, partitions=2)
    tessary.write(tmp_path / "one.parquet", 7, 100, SPECS)
    renamed = [index for index, (kind, _) in enumerate(events) if kind == "replace"]
    # The intent, two parts, the manifest and the Parquet file.
    assert len(renamed) == 5
    for index in renamed:
        source, target = events[index][1].split(" ")
        assert events[index - 1] == ("sync", source)
        assert events[index + 1] == ("sync", os.path.dirname(target))


# Data sets of related tables: orders refer to customers, their country copied from the same
# customer as their customer_id.
def shop(seed: int, countries: list[str | None]) -> tessary.Dataset:
    orders = [
        {"name": "customer_id", "type": "reference", "table": "customers"},
        {
            "name": "country", "type": "reference", "table": "customers",
            "attribute": "country", "same_as": "customer_id",
        },
        {"name": "amount", "type": "uniform_int", "low": 1, "high": 500},
    ]
    customers = [{"name": "country", "type": "choice", "values": countries}]
    document = {
        "tables": [
            {"name": "orders", "scale": 6_000, "attributes": orders},
            {"name": "customers", "scale": 900, "attributes": customers},
        ]
    }
    return tessary.Dataset(seed, json.dumps(document))


def files_of(folder: pathlib.Path) -> dict[pathlib.Path, bytes]:
    return {path: path.read_bytes() for path in folder.rglob("*") if path.is_file()}


@needs_batches
@cluster_test
def test_a_data_set_writes_a_folder_per_table_that_verify_rebuilds_with_its_references(
    client, tmp_path
):
    import pyarrow as pa
    import pyarrow.parquet as pq

    ds = shop(7, ["fr", "de", None])
    summaries = tdask.write_dataset(str(tmp_path / "shop"), ds, partitions={"orders": 3})
    assert sorted(summaries) == ["customers", "orders"]
    for name in ds.tables:
        parts = parts_of(tmp_path / "shop" / name)
        assert summaries[name].written == [path.name for path in parts]
        assert pa.concat_tables(pq.read_table(path) for path in parts).equals(pa.table(ds[name]))
    intent = json.loads((tmp_path / "shop" / "orders" / tdask.INTENT).read_text())
    assert intent["seed"] == ds["orders"].table_seed != ds.seed
    assert intent["dataset"] == {"seed": 7, "table": "orders", "document": ds.document_json}

    # A part of orders whose customers had other countries: only its parent's values differ,
    # so its size and digests agree with a manifest taken along, and only rebuilding the
    # references from the data set tells.
    other = shop(7, ["fr", "de", "it"])
    tdask.write_dataset(str(tmp_path / "other"), other, partitions={"orders": 3})
    good, changed = tmp_path / "shop" / "orders", tmp_path / "other" / "orders"
    name = parts_of(good)[1].name
    assert (good / name).read_bytes() != (changed / name).read_bytes()
    (good / name).write_bytes((changed / name).read_bytes())
    manifest = json.loads((good / tdask.MANIFEST).read_text())
    manifest["parts"][1] = json.loads((changed / tdask.MANIFEST).read_text())["parts"][1]
    (good / tdask.MANIFEST).write_text(json.dumps(manifest))
    assert tdask.verify(str(good)) == []
    assert [problem.name for problem in tdask.verify(str(good), regenerate=3)] == [name]

    # Resuming rewrites no part; another seed is refused before any folder changes.
    customers = parts_of(tmp_path / "shop" / "customers")[0]
    data = bytearray(customers.read_bytes())
    data[len(data) // 2] ^= 0x01
    customers.write_bytes(bytes(data))
    assert [str(problem) for problem in tdask.verify(str(customers.parent))] == [
        f"{customers.name}: its SHA-256 differs from the manifest's"
    ]
    again = tdask.write_dataset(str(tmp_path / "shop"), ds, partitions={"orders": 3})
    assert [summary.written for summary in again.values()] == [[], []]
    before = files_of(tmp_path / "shop")
    with pytest.raises(ValueError, match="other parameters .*dataset.*seed"):
        tdask.write_dataset(str(tmp_path / "shop"), shop(8, ["fr"]), partitions={"orders": 3})
    assert files_of(tmp_path / "shop") == before


@needs_batches
@cluster_test
def test_the_dataframes_of_a_data_set_hold_its_tables(client):
    import pyarrow as pa

    ds = shop(7, ["fr", "de", None])
    frames = tdask.dataframes(ds, partitions=4)
    assert frames["orders"].npartitions == 4
    for name in ds.tables:
        expected = pa.table(ds[name]).to_pandas(types_mapper=tessary.dask.frames._pandas_dtype)
        computed = frames[name].compute()
        assert list(computed.index) == list(expected["id"])
        assert computed.reset_index(drop=True).equals(expected.iloc[:, 1:])
