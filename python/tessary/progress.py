"""Progress of a long write: a bar on standard error, or the caller's callable."""

from __future__ import annotations

import sys
from collections.abc import Callable
from typing import Any

Progress = bool | Callable[[int, int], object]


def progress_reporter(progress: Progress, total: int) -> tuple[Any, Callable[[], None]]:
    """The callable handed to the native writer, which calls it with (done, total, bytes), and
    what closes it. A tqdm bar for True, the user's callable for a callable, None for False."""
    if progress is False or progress is None:
        return None, lambda: None
    if progress is True:
        from tqdm import tqdm

        bar = tqdm(total=total, unit=" entities", unit_scale=True, file=sys.stderr, leave=True)

        def update_bar(done: int, _total: int, written: int) -> None:
            elapsed = bar.format_dict.get("elapsed") or 0
            if elapsed > 0 and written > 0:  # a data set's tables report no bytes
                bar.set_postfix_str(f"{written / elapsed / 1e6:.0f} MB/s", refresh=False)
            bar.update(done - bar.n)

        return update_bar, bar.close
    if not callable(progress):
        raise TypeError("progress must be True, False or a callable taking (done, total)")
    user = progress
    return (lambda done, total, _written: user(done, total)), lambda: None
