"""Streaming output: entities written to files, file objects and iterators as they are built.

Memory stays bounded by the blocks in flight, whatever the range, and the interpreter lock is
released while the worker threads build, so other Python threads keep running.
"""

from __future__ import annotations

import contextlib
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

TEXT_FORMATS = ("json", "jsonl")
FORMATS = (*TEXT_FORMATS, "parquet")
COMPRESSIONS = ("gzip", "zstd")

# What a file name's suffixes say: the format, then optionally a compression after it.
FORMAT_SUFFIXES = {".json": "json", ".jsonl": "jsonl", ".ndjson": "jsonl", ".parquet": "parquet"}

# Parquet files are written a row group per this many rows (or a little more): large enough for
# good compression and fast scans, small enough to bound the memory a group holds.
PARQUET_GROUP_ROWS = 1 << 20
COMPRESSION_SUFFIXES = {".gz": "gzip", ".zst": "zstd"}

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


def formats_from_name(name: str) -> tuple[str | None, str | None]:
    """The format and compression a file name's suffixes give: ``data.jsonl.gz`` gives
    ``("jsonl", "gzip")``; an unknown or missing suffix gives None in its place."""
    base, last = os.path.splitext(name)
    compression = COMPRESSION_SUFFIXES.get(last.lower())
    if compression is not None:
        base, last = os.path.splitext(base)
    return FORMAT_SUFFIXES.get(last.lower()), compression


def resolve_output(
    name: str | None, format: str | None, compression: str | None, formats: tuple[str, ...]
) -> tuple[str, str | None]:
    """The format and compression of an output: the arguments, else the name's suffixes.
    Raises ValueError for a missing or unknown one."""
    named_format, named_compression = formats_from_name(name) if name is not None else (None, None)
    format = format if format is not None else named_format
    compression = compression if compression is not None else named_compression
    accepted = ", ".join(formats)
    if format is None:
        where = f"the name {name!r} does not say it" if name is not None else "a file object"
        raise ValueError(f"no format given and {where}: the accepted ones are {accepted}")
    if format not in formats:
        raise ValueError(f"unknown format {format!r}: the accepted ones are {accepted}")
    if compression is not None and compression not in COMPRESSIONS:
        raise ValueError(
            f"unknown compression {compression!r}: the accepted ones are {', '.join(COMPRESSIONS)}"
        )
    return format, compression


def check_range(scale: int, start: int, stop: int | None) -> int:
    """The stop of the range (scale when None); ValueError unless 0 <= start <= stop <= scale."""
    stop = scale if stop is None else stop
    if not 0 <= start <= stop <= scale:
        raise ValueError(
            f"the range must satisfy 0 <= start <= stop <= scale, not start={start}, "
            f"stop={stop}, scale={scale}"
        )
    return stop


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
    is written to a temporary file beside it and renamed over it only when everything succeeded;
    on any failure the temporary file is removed and an existing target is left untouched.
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
        finally:
            os.close(fd)
        os.replace(temporary, real)
    except BaseException:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(temporary)
        raise
    return result


def _named_errors(write: Callable[[int], WriteResult], fd: int, path: str) -> WriteResult:
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
    stop = check_range(scale, start, stop)
    algorithm = digest_algorithm(digest)
    if isinstance(target, (str, os.PathLike)):
        path = os.fspath(target)
        if isinstance(path, bytes):
            path = os.fsdecode(path)
        name: str | None = path
    elif isinstance(target, io.TextIOBase):
        raise TypeError("target is a text file: open it in binary mode ('wb')")
    elif callable(getattr(target, "write", None)):
        name = None
    else:
        raise TypeError(
            f"target must be a path or a writable binary file object, not {type(target).__name__}"
        )
    format, compression = resolve_output(name, format, compression, FORMATS)
    # Arguments, specs and the first entity are checked before any file is created; what the
    # check made (the batches, or the text iterator, unread) is then written.
    if format == "parquet":
        if compression is not None or level is not None:
            raise ValueError("Parquet files compress their pages themselves: give no compression")
        batches = _engine.generate_batches(seed, scale, specs_json, start, stop, None)
        chunks = None
    else:
        chunks = _engine.iter_text(seed, scale, specs_json, format, compression, level, start, stop)

    reporter, close_reporter = _progress_reporter(progress, stop - start)

    def write_fd_or_file(fd_or_file: Any) -> WriteResult:
        if chunks is None:
            return _write_parquet(fd_or_file, batches, stop - start, algorithm, reporter)
        counts = _engine.write_text(fd_or_file, chunks, algorithm, reporter)
        return WriteResult.of(*counts, algorithm)

    try:
        if name is None:
            return write_fd_or_file(target)
        return write_to_path(name, write_fd_or_file)
    finally:
        close_reporter()
        if chunks is not None:
            chunks.close()  # still unread when the output could not be opened


class _CountingFile(io.RawIOBase):
    """A binary file that passes what it is given on to another, counting and hashing it."""

    def __init__(self, target: Any, algorithm: str | None) -> None:
        self._write = target.write if not isinstance(target, int) else None
        self._fd = target if isinstance(target, int) else None
        self._hash = _engine.Hasher(algorithm) if algorithm is not None else None
        self.count = 0

    def writable(self) -> bool:
        return True

    def write(self, data: Any) -> int:
        view = memoryview(data).cast("B")
        if self._hash is not None:
            self._hash.update(view)
        if self._fd is not None:
            written = 0
            while written < len(view):
                written += os.write(self._fd, view[written:])
        else:
            assert self._write is not None
            self._write(bytes(view))
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
        rows = 0
        for batch in itertools.chain([first], sampled):
            group.append(batch)
            rows += batch.num_rows
            if rows >= PARQUET_GROUP_ROWS:
                writer.write_table(pa.Table.from_batches(group), row_group_size=rows)
                done += rows
                group, rows = [], 0
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
) -> Iterator[bytes]:
    """Yield the bytes :func:`write` would write, in ordered chunks built as they are consumed.

    Arguments and specs are checked at the call. Closing or dropping the iterator cancels the
    work in flight and frees everything.
    """
    stop = check_range(scale, start, stop)
    format, compression = resolve_output(None, format, compression, TEXT_FORMATS)
    chunks: Iterator[bytes] = _engine.iter_text(
        seed, scale, specs_json, format, compression, level, start, stop
    )
    return chunks
