"""What runs on the workers: writing, hashing and checking one part. Each task returns a plain
dict that travels back to the caller."""

from __future__ import annotations

import contextlib
import os
import uuid
import zlib
from collections.abc import Iterable, Iterator
from typing import Any

from fsspec.implementations.local import LocalFileSystem  # type: ignore[import-untyped]

import tessary
from tessary import _engine
from tessary.dask.folder import join
from tessary.dask.scheduling import LocalRun
from tessary.progress import Progress

CHUNK = 1 << 20

DIGEST_TITLES = {"sha256": "SHA-256", "xxh128": "XXH3-128"}


def write_part(
    fs: Any, folder: str, name: str, part: tessary.Table, format: str, compression: str | None,
    algorithm: str, run: tuple[int, str],
) -> dict[str, Any]:
    """Writes one part, the slice of its table (which travels as its arguments, or its data set
    and name), under a temporary name unique to this attempt and renames it when complete; in
    the caller's process, stops (leaving nothing) when the caller cancels the run."""
    with LocalRun.part(run) as cancelled:
        return _write_part_file(fs, folder, name, part, format, compression, algorithm, cancelled)


def _write_part_file(
    fs: Any, folder: str, name: str, part: tessary.Table, format: str, compression: str | None,
    algorithm: str, cancelled: Progress,
) -> dict[str, Any]:
    path = join(folder, name)
    arguments: dict[str, Any] = {
        "format": format, "compression": compression, "digest": algorithm, "progress": cancelled,
    }
    if isinstance(fs, LocalFileSystem):
        # A local path is written through a temporary file renamed over it on success.
        result = part.write(path, **arguments)
    else:
        temporary = join(folder, f".{name}.{uuid.uuid4().hex}.part")
        try:
            with fs.open(temporary, "wb") as file:
                result = part.write(file, **arguments)
            fs.mv(temporary, path)
        except BaseException:
            # Never created, or the failure is the filesystem's: report the first error.
            with contextlib.suppress(Exception):
                fs.rm(temporary)
            raise
    text_digest = None if format == "parquet" else result.text_digest
    return _record(
        name, part.start, part.stop, result.bytes_written, algorithm, result.digest, text_digest
    ) | {"written": True}


def digest_part(
    fs: Any, path: str, start: int, stop: int, format: str, compression: str | None,
    algorithm: str,
) -> dict[str, Any]:
    """The record of a part already there, from its bytes."""
    size, digest, text_digest = _file_digests(fs, path, format, compression, algorithm, text=True)
    return _record(
        path.rsplit("/", 1)[-1], start, stop, size, algorithm, digest, text_digest
    ) | {"written": False}


def check_part(
    fs: Any, path: str, format: str, compression: str | None, algorithm: str,
    generate: tessary.Table | None,
) -> dict[str, Any]:
    """The digest of a part's bytes and, when generate holds the part's slice of its table, the
    digest of its text (its bytes for Parquet) beside that of the slice regenerated."""
    outcome: dict[str, Any] = {"error": None, "digest": None, "compared": None, "regenerated": None}
    try:
        _, outcome["digest"], text_digest = _file_digests(
            fs, path, format, compression, algorithm, text=generate is not None
        )
    except (OSError, EOFError, zlib.error, ValueError) as error:
        outcome["error"] = f"cannot be read: {error}"
        return outcome
    if generate is not None:
        if format == "parquet":
            result = generate.write(
                os.devnull, format=format, compression=compression, digest=algorithm
            )
            outcome["compared"], outcome["regenerated"] = outcome["digest"], result.digest
        else:
            result = generate.write(os.devnull, format=format, digest=algorithm)
            outcome["compared"], outcome["regenerated"] = text_digest, result.text_digest
    return outcome


def _record(
    name: str, start: int, stop: int, size: int, algorithm: str, digest: str | None,
    text_digest: str | None,
) -> dict[str, Any]:
    """A part's manifest record: its digests under the algorithm's name ("sha256" and
    "text_sha256", or "xxh128" and "text_xxh128")."""
    return {
        "name": name,
        "start": start,
        "stop": stop,
        "bytes": size,
        algorithm: digest,
        f"text_{algorithm}": text_digest,
    }


def _file_digests(
    fs: Any, path: str, format: str, compression: str | None, algorithm: str, *, text: bool
) -> tuple[int, str, str | None]:
    """The size and digest of a file's bytes and, when text is asked for, of its uncompressed
    text (None for Parquet, which has none), read once."""
    raw = _engine.Hasher(algorithm)
    size = 0
    with fs.open(path, "rb") as file:

        def chunks() -> Iterator[bytes]:
            nonlocal size
            while chunk := file.read(CHUNK):
                raw.update(chunk)
                size += len(chunk)
                yield chunk

        if not text or format == "parquet" or compression is None:
            for _ in chunks():
                pass
            text_digest = None if format == "parquet" else raw.hexdigest()
        else:
            digest = _engine.Hasher(algorithm)
            for piece in _decompressed(chunks(), compression):
                digest.update(piece)
            text_digest = digest.hexdigest()
    return size, raw.hexdigest(), text_digest if text else None


def _decompressed(chunks: Iterable[bytes], compression: str) -> Iterator[bytes]:
    """The text of a stream of gzip members or zstd frames, one after another."""
    if compression == "zstd":
        import zstandard

        decompressor = zstandard.ZstdDecompressor().decompressobj(read_across_frames=True)
        for chunk in chunks:
            try:
                piece = decompressor.decompress(chunk)
            except zstandard.ZstdError as error:
                raise ValueError(str(error)) from None
            yield piece
        return
    member = zlib.decompressobj(wbits=31)
    pending = False  # inside a member
    for chunk in chunks:
        while chunk:
            yield member.decompress(chunk)
            pending = not member.eof
            if member.eof:
                chunk = member.unused_data
                member = zlib.decompressobj(wbits=31)
            else:
                chunk = b""
    if pending:
        raise EOFError("the gzip stream ends inside a member")
