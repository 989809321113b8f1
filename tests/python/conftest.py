import json
import os
import subprocess
import sys

import pytest

AGE_SPECS = '[{"name":"age","type":"uniform_int","low":18,"high":80}]'

# The five specs of the reference example: one of each kind, and a weighted choice.
FIVE_SPECS = json.dumps(
    [
        {"name": "age", "type": "uniform_int", "low": 18, "high": 80},
        {"name": "score", "type": "uniform_float", "low": 0.0, "high": 1.0},
        {"name": "height", "type": "normal", "mean": 100.0, "std_dev": 15.0},
        {"name": "pick", "type": "choice", "values": [10, 20, 30]},
        {"name": "weighted", "type": "choice", "values": [10, 20, 30], "weights": [1.0, 2.0, 3.0]},
    ],
    separators=(",", ":"),
)


def run_python(code: str, env_extra: dict[str, str] | None = None, timeout: float = 120) -> subprocess.CompletedProcess:
    """Runs code in a fresh interpreter with the same environment (plus env_extra)."""
    env = dict(os.environ)
    env.update(env_extra or {})
    return subprocess.run(
        [sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=timeout
    )


@pytest.fixture
def five_specs() -> str:
    return FIVE_SPECS
