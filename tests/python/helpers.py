"""What several test modules share: example specs and a fresh interpreter to run code in."""

from __future__ import annotations

import os
import pathlib
import subprocess
import sys

AGE_SPECS = '[{"name":"age","type":"uniform_int","low":18,"high":80}]'

# The five specs of the reference example: one of each kind, and a weighted choice.
EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
FIVE_SPECS = (EXAMPLES / "five_specs.json").read_text().strip()


def run_python(code: str, env_extra: dict[str, str] | None = None, timeout: float = 120) -> subprocess.CompletedProcess:
    """Runs code in a fresh interpreter with the same environment (plus env_extra)."""
    env = dict(os.environ)
    env.update(env_extra or {})
    return subprocess.run(
        [sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=timeout
    )


def resident_kib() -> int:
    """The resident memory of this process, in KiB."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS")
