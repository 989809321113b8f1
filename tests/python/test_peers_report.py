"""The bookkeeping of the peer benchmark (bench/peers_report.py): which size a slow tool is
measured at, which measurement fills each cell of the table, and which Tessary time each ratio
is taken against. The measuring itself needs the peers installed and runs with make bench-peers."""

import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))

from peers_report import (  # noqa: E402
    COLUMNAR_HEADING,
    Measurement,
    TargetCheck,
    Tool,
    check_targets,
    format_size,
    reduced_size,
    section,
    table_cells,
    with_section,
)


@pytest.mark.parametrize(
    "seconds_per_entity, expected",
    [
        (1e-6, 1_000_000),  # 1 s: fits
        (5e-5, 1_000_000),  # 50 s: fits
        (1e-4, 500_000),    # 100 s at 10^6, 50 s at 5×10^5
        (2e-4, 200_000),
        (1e-3, 50_000),
        (10.0, 5),
    ],
)
def test_reduced_size_is_the_largest_of_the_series_within_the_limit(seconds_per_entity, expected):
    previous = Measurement(1000, [seconds_per_entity * 1000])
    assert reduced_size(previous, 1_000_000, 60.0) == expected
    assert reduced_size(None, 1_000_000, 60.0) == 1_000_000


@pytest.mark.parametrize(
    "size, text", [(1000, "10^3"), (1_000_000, "10^6"), (500_000, "5×10^5"), (20, "2×10^1")]
)
def test_format_size(size, text):
    assert format_size(size) == text


def unused(n, seed):
    raise AssertionError("not run")


TESSARY = Tool("Tessary", unused, "", role="tessary")
FLOOR = Tool("floor", unused, "", role="floor")
FAST = Tool("Fast", unused, "")
SLOW = Tool("Slow", unused, "")
STALLED = Tool("Stalled", unused, "")
NUMPY = Tool("NumPy + orjson", unused, "")
TOOLS = [TESSARY, FLOOR, FAST, SLOW, STALLED, NUMPY]


def measured(*pairs):
    return {size: Measurement(size, [seconds]) for size, seconds in pairs}


RESULTS = {
    "Tessary": measured((1000, 0.001), (500_000, 0.05), (1_000_000, 0.1)),
    "floor": measured((1000, 0.0001), (1_000_000, 0.05)),
    "Fast": measured((1000, 0.002), (1_000_000, 0.4)),
    "Slow": measured((1000, 0.1), (500_000, 50.0)),  # measured at 5×10^5 in the 10^6 column
    "Stalled": measured((1000, 40.0)),  # too slow for any larger size
    "NumPy + orjson": measured((1000, 0.01), (1_000_000, 2.0)),
}


def test_cells_take_each_ratio_against_tessary_at_the_size_measured():
    cells = table_cells(TOOLS, RESULTS, [1000, 1_000_000])
    assert cells["Tessary"][1].ratio is None and not cells["Tessary"][1].reduced
    assert (cells["Fast"][1].ratio, cells["Fast"][1].reduced) == (pytest.approx(4.0), False)
    slow = cells["Slow"][1]
    assert (slow.measurement.size, slow.reduced, slow.ratio) == (
        500_000,
        True,
        pytest.approx(1000.0),
    )
    stalled = cells["Stalled"][1]
    assert (stalled.measurement.size, stalled.reduced, stalled.ratio) == (
        1000,
        True,
        pytest.approx(40_000.0),
    )
    assert cells["Stalled"][0].reduced is False


def test_targets_compare_with_the_fastest_peer_measured_at_full_size():
    targets = check_targets(TOOLS, table_cells(TOOLS, RESULTS, [1000, 1_000_000]))
    assert (targets.fastest_peer, targets.over_fastest, targets.over_numpy) == (
        "Fast",
        pytest.approx(4.0),
        pytest.approx(20.0),
    )
    assert targets.floor_share == pytest.approx(0.5)
    assert targets.verdict("Fast", 4.0, 3.0).endswith("the target of 3× is met.")


@pytest.mark.parametrize(
    "floor_share, explanation",
    [
        # NumPy takes 40 floors: a tool at the floor would lead it 40×, so the miss is Tessary's.
        (0.5, "Tessary takes 2.0× the floor's time."),
        # NumPy takes 20 floors: no tool could lead it 30×.
        (
            1.0,
            "Even the floor is only 20.0× as fast as NumPy on this machine, so no tool that "
            "returns the text as a str could reach 30× here.",
        ),
    ],
)
def test_a_missed_target_says_whether_the_floor_leaves_room_for_it(floor_share, explanation):
    verdict = TargetCheck("Fast", 4.0, 20.0, floor_share).verdict("NumPy", 20.0, 30.0)
    assert verdict == (
        "At the largest N, Tessary is 20.00× as fast as NumPy: the target of 30× is missed by a "
        "factor of 1.50. "
        + explanation
    )


def test_the_columnar_section_is_replaced_or_inserted_before_the_tools():
    report = "# Title\n\nJSON rows\n\n## The tools\n\n- a\n\n## Machine\n\n- b\n"
    first = f"{COLUMNAR_HEADING}\n\nrows 1\n\n"
    inserted = with_section(report, COLUMNAR_HEADING, first)
    assert inserted == report.replace("## The tools", first + "## The tools")
    assert section(inserted, COLUMNAR_HEADING) == first
    second = f"{COLUMNAR_HEADING}\n\nrows 2\n\n"
    assert with_section(inserted, COLUMNAR_HEADING, second) == report.replace(
        "## The tools", second + "## The tools"
    )
    assert section(report, COLUMNAR_HEADING) == ""
