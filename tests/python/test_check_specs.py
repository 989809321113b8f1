"""check_specs against what building entities really does."""

import json
import time

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import tessary

names = st.sampled_from(["a", "b", "id", "é"])
small_ints = st.integers(-3, 3)
floats = st.sampled_from([-1e308, -2.5, -0.0, 0.0, 1.0, 2.5, 1e308])
weights = st.lists(st.sampled_from([0, 0.5, 1, 3]), max_size=5)

specs = st.one_of(
    st.builds(
        lambda n, lo, hi: {"name": n, "type": "uniform_int", "low": lo, "high": hi},
        names,
        small_ints,
        small_ints,
    ),
    st.builds(
        lambda n, lo, hi: {"name": n, "type": "uniform_float", "low": lo, "high": hi},
        names,
        floats,
        floats,
    ),
    st.builds(
        lambda n, m, s, bounds: {"name": n, "type": "normal", "mean": m, "std_dev": s, **bounds},
        names,
        floats,
        st.sampled_from([-1.0, 0.0, 1.0]),
        st.dictionaries(st.sampled_from(["min", "max"]), floats),
    ),
    st.builds(
        lambda n, values, w: {
            "name": n,
            "type": "choice",
            "values": values,
            **({"weights": w} if w is not None else {}),
        },
        names,
        st.lists(st.sampled_from(["x", 1, None]), max_size=3),
        st.none() | weights,
    ),
)


def same_failure(stated: str, raised: str) -> bool:
    """The checker's error names the index a pick lands on only when one index is possible;
    otherwise it says "between i and j (by the draw)"."""
    if " between " in stated:
        return raised.startswith(stated.split(" between ")[0])
    return stated == raised


@settings(max_examples=300, deadline=None)
@given(st.lists(specs, max_size=5), st.integers(0, 2**64 - 1))
def test_the_checker_says_what_building_does(spec_list, seed):
    document = json.dumps(spec_list)
    problems = tessary.check_specs(document)
    assert all(p.severity in ("error", "may fail", "warning") for p in problems)
    assert [p.index for p in problems] == sorted(p.index for p in problems)
    blocking = [p for p in problems if p.severity in ("error", "may fail")]
    if not blocking:
        tessary.generate_entities(seed, 1000, document)  # must not panic
        return
    first = blocking[0]
    if first.severity == "may fail":
        return  # entity 0 may or may not fail there; a later error may or may not be reached
    with pytest.raises(tessary.PanicException) as raised:
        tessary.generate_entities(seed, 1, document)
    assert same_failure(first.message, str(raised.value))


@pytest.mark.parametrize(
    ("document", "expected"),
    [
        ('[{"name": "a",', [("error", None, 1, 14)]),
        #               ^ the reader stops at column 14
        ("[]", []),
        # A choice with no values yields null whatever its weights; a std_dev of 0 is accepted.
        ('[{"name":"a","type":"choice","values":[],"weights":[1,2]},\n'
         ' {"name":"b","type":"normal","mean":1,"std_dev":0}]', []),
        ('[{"name":"a","type":"choice","values":[1,2],"weights":[0,0]}]', [("warning", 0, 1, 2)]),
    ],
)
def test_positions_and_non_problems(document, expected):
    found = [(p.severity, p.index, p.line, p.column) for p in tessary.check_specs(document)]
    assert found == expected


def test_a_document_that_does_not_parse_gives_the_readers_error_alone():
    document = '[{"name":"a","type":"uniform_int","low":5,"high":1}, {'
    with pytest.raises(ValueError) as raised:
        tessary.generate_entities(1, 1, document)
    (problem,) = tessary.check_specs(document)
    assert (problem.severity, problem.message) == ("error", str(raised.value))


def test_a_spec_that_fails_for_every_entity_fails_a_huge_write_at_once(tmp_path):
    # Entity `start` is built before any block is handed out, so the error comes first, not
    # after the range's blocks: the write stops at once, with the one call's message.
    document = '[{"name":"a","type":"uniform_float","low":1,"high":1}]'
    (problem,) = tessary.check_specs(document)
    started = time.monotonic()
    with pytest.raises(tessary.PanicException) as raised:
        tessary.write(tmp_path / "huge.jsonl", 1, 10**9, document, start=5 * 10**8)
    assert time.monotonic() - started < 1
    assert str(raised.value) == problem.message
    assert list(tmp_path.iterdir()) == []
