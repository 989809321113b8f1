"""Running the parts' tasks on the current Dask scheduler, with progress, retries and
cancellation."""

from __future__ import annotations

import contextlib
import os
import threading
import time
import uuid
from collections.abc import Callable, Iterator
from typing import Any

from dask.base import compute, get_scheduler

from tessary.progress import Progress, progress_reporter

# Attempts of a part after a failure of its own (a worker lost while running it is rescheduled
# by the scheduler without counting here). Safe: an attempt leaves nothing under the part's name
# until it is complete.
RETRIES = 2


def _active_client() -> Any:
    """The distributed client that dask.compute would use now, or None."""
    scheduler = get_scheduler()  # type: ignore[no-untyped-call]
    owner = getattr(scheduler, "__self__", None)
    try:
        from distributed import Client
    except ImportError:
        return None
    return owner if isinstance(owner, Client) else None


class _PartCancelled(Exception):
    """Raised in a part that stopped because its run was cancelled."""


class LocalRun:
    """The parts of one call that run in the caller's process (on the sync and threaded
    schedulers, or a cluster of threads), which the caller cancels when the call fails or is
    interrupted: each part's write looks at the run's flag through its progress callable (about
    ten times a second), stops and removes its temporary file. Parts in other processes never
    find their run here and are not cancelled this way."""

    _runs: dict[str, LocalRun] = {}
    _lock = threading.Lock()

    def __init__(self) -> None:
        self.cancelled = False
        self.running = 0

    @staticmethod
    def token() -> tuple[int, str]:
        """What the tasks of a new run carry: the caller's process and a key unique to the run."""
        return os.getpid(), uuid.uuid4().hex

    @classmethod
    @contextlib.contextmanager
    def part(cls, token: tuple[int, str]) -> Iterator[Progress]:
        """For the length of a part: a progress callable that raises _PartCancelled once the run is
        cancelled (False in another process). A part of this process that finds its run gone (the
        call has returned) or cancelled does not start."""
        pid, key = token
        if pid != os.getpid():
            yield False
            return
        with cls._lock:
            run = cls._runs.get(key)
            if run is None or run.cancelled:
                raise _PartCancelled("the call that scheduled this part has ended")
            run.running += 1

        def look(_done: int, _total: int) -> None:
            if run.cancelled:
                raise _PartCancelled("the call that scheduled this part was cancelled")

        try:
            yield look
        finally:
            with cls._lock:
                run.running -= 1

    @classmethod
    @contextlib.contextmanager
    def running_in(cls, token: tuple[int, str] | None) -> Iterator[None]:
        """Registers the run for the block's length. When the block fails (an error of a part, or
        KeyboardInterrupt), cancels the parts of this process and waits until none is running."""
        if token is None:
            yield
            return
        run = LocalRun()
        with cls._lock:
            cls._runs[token[1]] = run
        try:
            yield
        except BaseException:
            with cls._lock:
                run.cancelled = True
            while run.running:
                try:
                    time.sleep(0.01)
                except KeyboardInterrupt:  # a second Ctrl-C: the parts stop within moments anyway
                    continue
            raise
        finally:
            with cls._lock:
                del cls._runs[token[1]]


def run_part_tasks(
    tasks: list[Any], entities: list[int], progress: Progress, run: tuple[int, str] | None
) -> list[dict[str, Any]]:
    """The results of the tasks, in order, computed on the current scheduler; progress counts
    the entities of the finished tasks. When the computation fails or is interrupted, the parts
    of `run` in this process are cancelled before the error propagates; a cluster's are
    cancelled as futures (a worker may still finish one that is running)."""
    with LocalRun.running_in(run):
        return _compute_tasks(tasks, entities, progress)


def _compute_tasks(
    tasks: list[Any], entities: list[int], progress: Progress
) -> list[dict[str, Any]]:
    reporter, close = progress_reporter(progress, sum(entities))
    if not tasks:
        close()
        return []
    done = written = 0

    def finished(index: int, result: dict[str, Any]) -> None:
        nonlocal done, written
        done += entities[index]
        written += result.get("bytes") or 0
        reporter(done, sum(entities), written)

    try:
        client = _active_client()
        if client is not None:
            return _compute_distributed(client, tasks, finished if reporter else None)
        if reporter is None:
            return list(compute(*tasks))  # type: ignore[no-untyped-call]
        from dask.callbacks import Callback

        keys = {task.key: index for index, task in enumerate(tasks)}

        def posttask(key: Any, result: Any, *_: Any) -> None:
            if key in keys:
                finished(keys[key], result)

        with Callback(posttask=posttask):  # type: ignore[no-untyped-call]
            return list(compute(*tasks))  # type: ignore[no-untyped-call]
    finally:
        close()


def _compute_distributed(
    client: Any, tasks: list[Any], finished: Callable[[int, dict[str, Any]], None] | None
) -> list[dict[str, Any]]:
    from distributed import as_completed

    futures = client.compute(tasks, retries=RETRIES)
    index = {future.key: i for i, future in enumerate(futures)}
    try:
        for future in as_completed(futures):  # type: ignore[no-untyped-call]
            result = future.result()  # raises the task's error
            if finished is not None:
                finished(index[future.key], result)
        return [future.result() for future in futures]
    finally:
        client.cancel([future for future in futures if not future.done()])
