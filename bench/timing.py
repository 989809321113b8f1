"""Timing shared by the Python-side benchmarks."""

from __future__ import annotations

import json
import os
import statistics
import subprocess
import sys
import time
from collections.abc import Callable


def alternating_medians(
    rounds: int, *calls, clock: Callable[[], float] = time.perf_counter
) -> list[float]:
    """Median seconds of each call, the calls taking turns within every round so that they share
    the machine's load. A call is a pair (prepare, run): prepare() is untimed and its result is
    passed to the timed run(). With clock=time.process_time the seconds are the CPU time of this
    process's threads, which the other processes of a busy machine disturb less than the wall
    clock (for a run on one worker thread, whose CPU time is its cost)."""
    times: list[list[float]] = [[] for _ in calls]
    for _ in range(rounds):
        for (prepare, run), samples in zip(calls, times, strict=True):
            argument = prepare()
            start = clock()
            run(argument)
            samples.append(clock() - start)
    return [statistics.median(samples) for samples in times]


def one_and_two_threads(child: str, *args: str, repeats: int = 3) -> tuple[float, float]:
    """Median of what `child` prints (seconds, as one number) when run in fresh interpreters with
    RAYON_NUM_THREADS=1 and =2, the two taking turns `repeats` times."""

    def run(threads: int) -> float:
        env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
        out = subprocess.run(
            [sys.executable, "-c", child, *args],
            env=env,
            capture_output=True,
            text=True,
            check=True,
        )
        return float(out.stdout)

    one, two = [], []
    for _ in range(repeats):
        one.append(run(1))
        two.append(run(2))
    return statistics.median(one), statistics.median(two)


def child_json(script: str, flag: str, rows: int, rounds: int, **env: str) -> dict:
    """Runs `script` again in a child interpreter, with `flag`, --rows and --rounds and these
    environment variables added (a thread count, say), and gives the JSON it prints."""
    out = subprocess.run(
        [sys.executable, script, flag, "--rows", str(rows), "--rounds", str(rounds)],
        env=dict(os.environ, **env), capture_output=True, text=True, check=True,
    )  # fmt: skip
    result: dict = json.loads(out.stdout)
    return result
