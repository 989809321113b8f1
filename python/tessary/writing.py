"""Streaming output: entities written to files, file objects and iterators as they are built.

Memory stays bounded by the blocks in flight, whatever the range, and the interpreter lock is
released while the worker threads build, so other Python threads keep running.
"""

from __future__ import annotations

import contextlib
import errno
import io
import itertools
import os
import stat
import sys
import tempfile
from collections.abc import Callable, Iterator
from dataclasses import dataclass
from typing import IO, Any, Union

from tessary import _engine
from tessary._engine import TextChunks
from tessary.table import Table

# Parquet files are written a row group per this many rows (or a little more): large enough for
# good compression and fast scans, small enough to bound the memory a group holds. Rows of long
# texts close a group at this many bytes of batches instead (or one batch more).
PARQUET_GROUP_ROWS = 1 << 20
PARQUET_GROUP_BYTES = 128 << 20

# Digest algorithms, by the names the API and data set manifests use. SHA-256 is the default:
# it is what a user compares with other tools. XXH3-128 detects accidental corruption only, at
# several times the speed.
DIGESTS = ("sha256", "xxh128")

Target = Union[str, "os.PathLike[str]", IO[bytes]]
Progress = bool | Callable[[int, int], object]


@dataclass(frozen=True)
class WriteResult:
    """What a call of :func:`write` wrote.

    ``entities`` and ``text_bytes`` count the entities and the bytes of their uncompressed text;
    ``bytes_written`` counts what reached the target. With a digest, ``digest`` is the digest
    (lower-case hex) of the bytes written and ``text_digest`` that of the uncompressed text (the
    same when nothing is compressed), by ``digest_algorithm`` (``"sha256"`` or ``"xxh128"``,
    XXH3-128 in the canonical big-endian form that ``xxh128sum`` prints); ``sha256`` and
    ``text_sha256`` repeat them for SHA-256 only. Without a digest all five are None.
    """

    entities: int
    text_bytes: int
    bytes_written: int
    sha256: str | None = None
    text_sha256: str | None = None
    digest: str | None = None
    text_digest: str | None = None
    digest_algorithm: str | None = None

    @classmethod
    def of(
        cls,
        entities: int,
        text_bytes: int,
        bytes_written: int,
        digest: str | None,
        text_digest: str | None,
        algorithm: str | None,
    ) -> WriteResult:
        """The result of a write with these digests by that algorithm (None: no digest)."""
        sha256 = algorithm == "sha256"
        return cls(
            entities, text_bytes, bytes_written,
            digest if sha256 else None, text_digest if sha256 else None,
            digest, text_digest, algorithm,
        )


def digest_algorithm(digest: bool | str | None) -> str | None:
    """The algorithm a ``digest`` argument asks for: None for False (or None), ``"sha256"`` for
    True, else the name itself, which must be one of DIGESTS (ValueError; TypeError for another
    type)."""
    if digest is None or digest is False:
        return None
    if digest is True:
        return "sha256"
    if not isinstance(digest, str):
        raise TypeError(
            f"digest must be True, False or one of {', '.join(map(repr, DIGESTS))}, "
            f"not {type(digest).__name__}"
        )
    if digest not in DIGESTS:
        raise ValueError(f"unknown digest {digest!r}: the accepted ones are {', '.join(DIGESTS)}")
    return digest


def _progress_reporter(progress: Progress, total: int) -> tuple[Any, Callable[[], None]]:
    """The callable handed to the native writer, which calls it with (done, total, bytes), and
    what closes it. A tqdm bar for True, the user's callable for a callable, None for False."""
    if progress is False or progress is None:
        return None, lambda: None
    if progress is True:
        from tqdm import tqdm

        bar = tqdm(total=total, unit=" entities", unit_scale=True, file=sys.stderr, leave=True)

        def update_bar(done: int, _total: int, written: int) -> None:
            elapsed = bar.format_dict.get("elapsed") or 0
            if elapsed > 0:
                bar.set_postfix_str(f"{written / elapsed / 1e6:.0f} MB/s", refresh=False)
            bar.update(done - bar.n)

        return update_bar, bar.close
    if not callable(progress):
        raise TypeError("progress must be True, False or a callable taking (done, total)")
    user = progress
    return (lambda done, total, _written: user(done, total)), lambda: None


def _process_umask() -> int:
    """The process's umask, read without changing it where the system tells it."""
    try:
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("Umask:"):
                    return int(line.split()[1], 8)
    except (OSError, ValueError):
        pass
    mask = os.umask(0o022)  # no other way: set and restore
    os.umask(mask)
    return mask


def _temporary_beside(path: str) -> tuple[int, str]:
    """A new file in the target's folder, with the mode a plain open() would give the target."""
    folder, name = os.path.split(path)
    fd, temporary = tempfile.mkstemp(dir=folder or ".", prefix=f".{name}.", suffix=".part")
    try:
        try:
            mode = stat.S_IMODE(os.stat(path).st_mode)  # open() keeps an existing file's mode
        except FileNotFoundError:
            mode = 0o666 & ~_process_umask()
        os.fchmod(fd, mode)
    except BaseException:
        os.close(fd)
        os.unlink(temporary)
        raise
    return fd, temporary


def _with_name(error: OSError, name: str) -> OSError:
    """The same error (errno and subclass) naming the target rather than a temporary file."""
    renamed = OSError(error.errno, error.strerror, name)
    renamed.__traceback__ = error.__traceback__
    return renamed


def _own_descriptor_behind(path: str) -> int | None:
    """The descriptor of this process that the path leads to through /proc, as /dev/stdout
    (/proc/self/fd/1) and /dev/fd/N do, else None. What is behind it (a pipe, or a file the shell
    opened) is written through that descriptor: renaming over the file, or opening it anew, would
    lose what the process writes there before or after."""
    own_descriptors = os.path.realpath("/proc/self/fd")
    for _ in range(40):  # the kernel's limit of links followed in one path
        folder = os.path.realpath(os.path.dirname(os.path.abspath(path)))
        if folder == own_descriptors and os.path.basename(path).isdigit():
            return int(os.path.basename(path))
        if not os.path.islink(path):
            return None
        path = os.path.join(os.path.dirname(os.path.abspath(path)), os.readlink(path))
    return None


def write_to_path(path: str, write: Callable[[int], WriteResult]) -> WriteResult:
    """Runs write(fd) for the file at path. A regular file, or a name with nothing behind it yet,
    is written to a temporary file beside it, flushed to the disk and renamed over it only when
    everything succeeded, and the folder is flushed after the rename; on any failure the temporary
    file is removed and an existing target is left untouched.
    Devices, FIFOs and other files that are not regular are written in place, and a name of one of
    the process's descriptors (/dev/stdout) through that descriptor."""
    descriptor = _own_descriptor_behind(path)
    if descriptor is not None:
        return _named_errors(write, descriptor, path)
    real = os.path.realpath(path)
    try:
        # Through the path as given: realpath cannot follow /dev/stdout to the pipe it names.
        mode = os.stat(path).st_mode
    except FileNotFoundError:
        mode = None
    except OSError as error:
        raise _with_name(error, path) from None
    if mode is not None and not stat.S_ISREG(mode):
        try:
            fd = os.open(path, os.O_WRONLY | os.O_CLOEXEC)
        except OSError as error:
            raise _with_name(error, path) from None
        try:
            return _named_errors(write, fd, path)
        finally:
            os.close(fd)
    try:
        fd, temporary = _temporary_beside(real)
    except OSError as error:
        raise _with_name(error, path) from None
    try:
        try:
            result = _named_errors(write, fd, path)
            # The data reaches the disk before the name does: otherwise, after a power loss, the
            # renamed file can be empty or hold a part of the data.
            _named_errors(_sync, fd, path)
        finally:
            os.close(fd)
        os.replace(temporary, real)
    except BaseException:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(temporary)
        raise
    _sync_folder(os.path.dirname(real), path)
    return result


def _sync(fd: int) -> None:
    os.fsync(fd)


def _sync_folder(folder: str, path: str) -> None:
    """Flushes a folder's entries (a rename into it) to the disk. Filesystems that cannot sync a
    folder say so with EINVAL; any other failure is the path's OSError."""
    try:
        fd = os.open(folder or ".", os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
        try:
            os.fsync(fd)
        finally:
            os.close(fd)
    except OSError as error:
        if error.errno != errno.EINVAL:
            raise _with_name(error, path) from None


def _named_errors[Result](write: Callable[[int], Result], fd: int, path: str) -> Result:
    try:
        return write(fd)
    except OSError as error:
        # Only a system error is about the file; another one keeps its message as it is.
        if error.filename is None and error.errno is not None:
            raise _with_name(error, path) from None
        raise


def write(
    target: Target,
    seed: int,
    scale: int,
    specs_json: str,
    *,
    format: str | None = None,
    compression: str | None = None,
    level: int | None = None,
    start: int = 0,
    stop: int | None = None,
    digest: bool | str = False,
    progress: Progress = False,
) -> WriteResult:
    """Write the entities with ids ``start`` to ``stop - 1`` (``stop`` defaults to ``scale``).

    ``target`` is a path or a writable binary file object. Formats: ``"json"`` (one JSON array;
    for the whole range exactly the text of ``generate_entities``), ``"jsonl"`` (one entity
    object per line) and ``"parquet"`` (the columns of ``generate_batches``, written by pyarrow,
    which must be installed); a path's suffix (``.json``, ``.jsonl``, ``.ndjson``, ``.parquet``,
    then ``.gz`` or ``.zst`` for text) gives the format and compression unless they are given.
    ``compression`` is ``"gzip"`` (libdeflate, levels 0 to 12, default 5) or ``"zstd"`` (default
    level 3), one member or frame per block; Parquet compresses its pages itself. For Parquet,
    ``text_bytes`` is 0. ``digest`` is False, True or ``"sha256"`` (SHA-256), or ``"xxh128"``
    (XXH3-128): see :class:`WriteResult`.

    A path is written through a temporary file renamed over it when everything succeeded: on any
    failure nothing is left and an existing file is untouched. A file object keeps what was
    written before a failure. ``progress=True`` shows a bar on standard error; a callable
    receives ``(done, total)``, entities written since ``start``.
    """
    table = Table(seed, scale, specs_json, start=start, stop=stop)
    return write_table(
        table, target, format=format, compression=compression, level=level, digest=digest,
        progress=progress,
    )


def _target_name(target: Target) -> str | None:
    """The path of a path target, None for a file object; TypeError for anything else."""
    if isinstance(target, (str, os.PathLike)):
        path = os.fspath(target)
        path = os.fsdecode(path) if isinstance(path, bytes) else path
        if not path:
            raise ValueError("an empty path names no file")
        return path
    if isinstance(target, io.TextIOBase):
        raise TypeError("target is a text file: open it in binary mode ('wb')")
    if callable(getattr(target, "write", None)):
        return None
    raise TypeError(
        f"target must be a path or a writable binary file object, not {type(target).__name__}"
    )


def write_table(
    table: Table,
    target: Target,
    *,
    format: str | None,
    compression: str | None,
    level: int | None,
    digest: bool | str,
    progress: Progress,
) -> WriteResult:
    """What :meth:`Table.write` and :func:`write` do: the output's options are resolved and the
    table's entity ``start`` built before any file is created."""
    name = _target_name(target)
    format, compression, level = _engine.output_options(name, format, compression, level)
    algorithm = digest_algorithm(digest)
    batches = table.batches() if format == "parquet" else None  # refuses columns it cannot make
    table.check_first_entity()
    reporter, close_reporter = _progress_reporter(progress, table.count)

    def write_fd_or_file(fd_or_file: Any) -> WriteResult:
        if batches is not None:
            return _write_parquet(fd_or_file, batches, table.count, algorithm, reporter)
        counts = table._write(fd_or_file, format, compression, level, algorithm, reporter)
        return WriteResult.of(*counts, algorithm)

    try:
        if name is None:
            return write_fd_or_file(target)
        return write_to_path(name, write_fd_or_file)
    finally:
        close_reporter()
        if batches is not None:
            batches.close()  # still unread when the output could not be opened


class _CountingFile(io.RawIOBase):
    """A binary file that passes what it is given on to a descriptor or a file object, counting
    and hashing it. The bytes go through the routine that writes the text formats: it goes on
    after short writes and refuses a write() that returns nonsense."""

    def __init__(self, target: Any, algorithm: str | None) -> None:
        self._target = target
        self._hash = _engine.Hasher(algorithm) if algorithm is not None else None
        self.count = 0

    def writable(self) -> bool:
        return True

    def write(self, data: Any) -> int:
        view = memoryview(data).cast("B")
        _engine.write_bytes(self._target, view)
        if self._hash is not None:
            self._hash.update(view)
        self.count += len(view)
        return len(view)

    def tell(self) -> int:
        return self.count

    def hexdigest(self) -> str | None:
        return self._hash.hexdigest() if self._hash is not None else None


def _sampled_batches(reader: Any) -> Iterator[Any]:
    """The batches of a reader on a generate_batches stream. Such a stream fails only where a
    sampler panicked (or memory ran out, a MemoryError): its I/O error becomes the
    PanicException that the text formats raise."""
    while True:
        try:
            batch = reader.read_next_batch()
        except StopIteration:
            return
        except OSError as error:
            raise _engine.panic_exception()(str(error)) from None
        yield batch


def repeating_columns(batch: Any) -> list[str]:
    """The columns worth a Parquet dictionary: those whose values repeat in the batch (one
    distinct value in 16 rows at most), such as choices and narrow integer ranges. Trying a
    dictionary on every column costs a third of the writer's time on columns of unique values
    (ids, doubles), which then fall back to plain pages anyway."""
    import pyarrow as pa  # type: ignore[import-untyped]
    import pyarrow.compute as pc  # type: ignore[import-untyped]

    limit = max(1, batch.num_rows // 16)
    repeating = []
    for field, column in zip(batch.schema, batch.columns, strict=True):
        if isinstance(column, pa.ExtensionArray):
            column = column.storage
        if isinstance(column, pa.DictionaryArray):
            column = column.indices
        if not pa.types.is_null(field.type) and pc.count_distinct(column).as_py() <= limit:
            repeating.append(field.name)
    return repeating


def _write_parquet(
    target: Any, batches: Any, total: int, algorithm: str | None, reporter: Any
) -> WriteResult:
    """Writes the batches as one Parquet file, a row group per group of batches."""
    import pyarrow as pa
    import pyarrow.parquet as pq  # type: ignore[import-untyped]

    reader = pa.RecordBatchReader.from_stream(batches)
    sampled = _sampled_batches(reader)
    first = next(sampled)  # an empty range has one empty batch
    sink = _CountingFile(target, algorithm)
    done = 0
    with pq.ParquetWriter(sink, reader.schema, use_dictionary=repeating_columns(first)) as writer:
        group: list[pa.RecordBatch] = []
        rows = size = 0
        for batch in itertools.chain([first], sampled):
            group.append(batch)
            rows += batch.num_rows
            size += batch.nbytes
            if rows >= PARQUET_GROUP_ROWS or size >= PARQUET_GROUP_BYTES:
                writer.write_table(pa.Table.from_batches(group), row_group_size=rows)
                done += rows
                group, rows, size = [], 0, 0
                if reporter is not None:
                    reporter(done, total, sink.count)
        if group or done == 0:
            writer.write_table(pa.Table.from_batches(group, schema=reader.schema))
            done += rows
    if reporter is not None:
        reporter(done, total, sink.count)
    return WriteResult.of(done, 0, sink.count, sink.hexdigest(), None, algorithm)


def iter_text(
    seed: int,
    scale: int,
    specs_json: str,
    *,
    format: str = "jsonl",
    compression: str | None = None,
    level: int | None = None,
    start: int = 0,
    stop: int | None = None,
) -> TextChunks:
    """Yield the bytes :func:`write` would write, in ordered chunks built as they are consumed.

    Arguments and specs are checked, and entity ``start`` built, at the call. Closing or dropping
    the iterator cancels the work in flight and frees everything.
    """
    table = Table(seed, scale, specs_json, start=start, stop=stop)
    return table.iter_text(format=format, compression=compression, level=level)
