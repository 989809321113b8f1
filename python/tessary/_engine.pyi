from collections.abc import Buffer, Callable, Iterator
from typing import IO, Literal

_Severity = Literal["error", "may fail", "warning"]

class TextChunks(Iterator[bytes]):
    def __next__(self) -> bytes: ...
    def close(self) -> None: ...

def write_text(
    target: int | IO[bytes],
    chunks: TextChunks,
    digest: str | None,
    progress: Callable[[int, int, int], object] | None,
) -> tuple[int, int, int, str | None, str | None]: ...

def iter_text(
    seed: int,
    scale: int,
    specs_json: str,
    format: str,
    compression: str | None,
    level: int | None,
    start: int,
    stop: int | None,
) -> TextChunks: ...

def panic_exception() -> type[BaseException]: ...

class Hasher:
    def __init__(self, algorithm: str) -> None: ...
    @property
    def name(self) -> str: ...
    def update(self, data: Buffer, /) -> None: ...
    def hexdigest(self) -> str: ...

class Batches:
    def __arrow_c_schema__(self) -> object: ...
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...

def generate_batches(
    seed: int,
    scale: int,
    specs_json: str,
    start: int,
    stop: int | None,
    batch_rows: int | None,
) -> Batches: ...

def check_specs(
    specs_json: str,
) -> list[tuple[_Severity, str, int | None, str | None, int, int]]: ...
