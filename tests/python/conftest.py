import pytest

from helpers import AGE_SPECS, FIVE_SPECS, run_python  # noqa: F401 - older tests import them from here


@pytest.fixture
def five_specs() -> str:
    return FIVE_SPECS
