"""generate_entities: the text it returns and the failures it raises."""

import json
import math
import os
import textwrap

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from helpers import AGE_SPECS, FIVE_SPECS, run_python
from tessary import generate_entities


def test_seed_42_ages():
    assert generate_entities(42, 2, AGE_SPECS) == '[{"id":0,"age":58},{"id":1,"age":52}]'
    ages = [entity["age"] for entity in json.loads(generate_entities(42, 5, AGE_SPECS))]
    assert ages == [58, 52, 69, 31, 64]


def test_seed_7_five_specs_exact_text():
    assert generate_entities(7, 3, FIVE_SPECS) == (
        '[{"id":0,"age":58,"score":0.8362821032975445,"height":72.40703103282276,"pick":20,"weighted":10},'
        '{"id":1,"age":43,"score":0.9663276078270993,"height":87.84427816250883,"pick":30,"weighted":10},'
        '{"id":2,"age":31,"score":0.26362689194347033,"height":113.74316773750891,"pick":10,"weighted":20}]'
    )


@pytest.mark.parametrize(
    "scale, specs, expected",
    [
        (0, "[]", "[]"),
        (3, "[]", '[{"id":0},{"id":1},{"id":2}]'),
        (0, '[{"name":"a","type":"uniform_int","low":5,"high":1}]', "[]"),
        (
            2,
            '[{"name":"x","type":"uniform_int","low":7,"high":7},{"name":"x","type":"uniform_int","low":1,"high":1}]',
            '[{"id":0,"x":1},{"id":1,"x":1}]',
        ),
        (1, '[{"name":"id","type":"uniform_int","low":-5,"high":-5}]', '[{"id":0,"id":-5}]'),
        (1, '[{"name":"n","type":"choice","values":[]}]', '[{"id":0,"n":null}]'),
        (
            1,
            '[{"name":"o","type":"choice","values":[{"b":1,"a":[true,null,"\\u00e9"],"B":{}}]}]',
            '[{"id":0,"o":{"B":{},"a":[true,null,"\u00e9"],"b":1}}]',
        ),
        (
            1,
            '[{"name":"q\\"\\\\\\t\\u0001/\u00e9","type":"uniform_int","low":0,"high":0}]',
            '[{"id":0,"q\\"\\\\\\t\\u0001/\u00e9":0}]',
        ),
        (1, '[{"name":"z","type":"normal","mean":0,"std_dev":0,"min":0.0}]', '[{"id":0,"z":0.0}]'),
        (
            1,
            '[{"name":"z","type":"normal","mean":5,"std_dev":3,"min":10,"max":5}]',
            '[{"id":0,"z":5.0}]',
        ),
        (
            1,
            '[{"name":"i","type":"uniform_int","low":-9223372036854775808,"high":-9223372036854775808}]',
            '[{"id":0,"i":-9223372036854775808}]',
        ),
    ],
)
def test_exact_texts(scale, specs, expected):
    assert generate_entities(1, scale, specs) == expected


def test_overflowing_normal_is_null():
    text = generate_entities(3, 50, '[{"name":"v","type":"normal","mean":1e308,"std_dev":1e308}]')
    values = [entity["v"] for entity in json.loads(text)]
    assert None in values
    assert all(v is None or math.isfinite(v) for v in values)


@pytest.mark.parametrize("values", [["a", "b", "c"], ["a", "b"]])
def test_weights_whose_total_overflows_still_follow_the_weights(values):
    # 1e308 + 1e308 is infinite; the pick must still split between the two large weights and never
    # reach the zero weight (nor, with two values, the position that has no value).
    specs = json.dumps(
        [{"name": "w", "type": "choice", "values": values, "weights": [1e308, 1e308, 0]}]
    )
    picks = [entity["w"] for entity in json.loads(generate_entities(5, 4000, specs))]
    assert set(picks) == {"a", "b"}
    assert 1800 < picks.count("a") < 2200


@pytest.mark.parametrize(
    "specs, message",
    [
        ("", "EOF while parsing a value at line 1 column 0"),
        ("[{}]", "missing field `name` at line 1 column 3"),
        ('[{"name":"a"}]', "missing field `type` at line 1 column 13"),
        (
            '[{"name":"a","type":"uniform_int","low":18.0,"high":80}]',
            "invalid type: floating point `18.0`, expected i64 at line 1 column 55",
        ),
        (
            '[{"name":"a","type":"Normal"}]',
            "unknown variant `Normal`, expected one of `uniform_int`, `uniform_float`, `normal`, "
            "`choice` at line 1 column 29",
        ),
        ("{}", "invalid type: map, expected a sequence at line 1 column 0"),
        ("[] []", "trailing characters at line 1 column 4"),
        ('[{"name":"a","v":1e309}]', "number out of range at line 1 column 22"),
    ],
)
def test_spec_errors_raise_value_error_even_for_scale_0(specs, message):
    for scale in (0, 5):
        with pytest.raises(ValueError) as caught:
            generate_entities(1, scale, specs)
        assert str(caught.value) == message


def panic_type():
    try:
        generate_entities(1, 1, '[{"name":"a","type":"uniform_int","low":1,"high":0}]')
    except BaseException as error:  # noqa: BLE001 - the type is what we want
        return type(error)
    raise AssertionError("no panic")


@pytest.mark.parametrize(
    "specs, message",
    [
        ('[{"name":"a","type":"uniform_int","low":1,"high":0}]', "cannot sample empty range"),
        (
            '[{"name":"a","type":"uniform_float","low":1,"high":1}]',
            "called `Result::unwrap()` on an `Err` value: EmptyRange",
        ),
        (
            '[{"name":"a","type":"uniform_float","low":-1e308,"high":1e308}]',
            "called `Result::unwrap()` on an `Err` value: NonFinite",
        ),
        # The first failing spec of an entity decides.
        (
            '[{"name":"a","type":"uniform_int","low":1,"high":0},{"name":"b","type":"uniform_float","low":1,"high":1}]',
            "cannot sample empty range",
        ),
        (
            '[{"name":"a","type":"choice","values":[1],"weights":[0,0,0,1]}]',
            "index out of bounds: the len is 1 but the index is 3",
        ),
    ],
)
def test_sampling_failures_raise_panic_exception(specs, message):
    with pytest.raises(BaseException) as caught:
        generate_entities(1, 100, specs)
    assert caught.type.__name__ == "PanicException"
    assert not issubclass(caught.type, Exception)
    assert str(caught.value) == message
    assert caught.value.args == (message,)


def test_panic_exception_is_created_once_and_escapes_except_exception():
    first, second = panic_type(), panic_type()
    assert first is second
    assert issubclass(first, BaseException)
    assert "panics" in first.__doc__
    with pytest.raises(first):
        try:
            generate_entities(1, 1, '[{"name":"a","type":"uniform_int","low":1,"high":0}]')
        except Exception:  # noqa: BLE001
            pytest.fail("PanicException was caught by except Exception")


def test_capacity_overflow_panics_before_building():
    with pytest.raises(BaseException) as caught:
        generate_entities(1, 2**62, '[{"name":"a","type":"uniform_int","low":1,"high":0}]')
    assert caught.type.__name__ == "PanicException"
    assert str(caught.value) == "capacity overflow"


def test_output_that_cannot_fit_raises_memory_error_at_once():
    with pytest.raises(MemoryError) as caught:
        generate_entities(1, 2**55, "[]")
    assert "bytes" in str(caught.value)


# Under an address-space limit set in the child: the blocks of 30,000,000 small entities fit, the
# blocks and the str together do not. The limit is measured from the child's own address space
# and the text's exact length (the blocks take about 1.2 times the text, blocks and str about 2.2
# times), so that it holds on any machine.
STR_OUT_OF_MEMORY = textwrap.dedent(
    """
    import resource, tessary
    specs = '[{"name":"a","type":"uniform_int","low":0,"high":9}]'
    n = 30_000_000
    tessary.generate_entities(1, 100_000, specs)  # the pool and its threads exist from here on
    id_digits = sum(w * (min(n, 10**w) - 10 ** (w - 1)) for w in range(2, 9)) + 10
    text_bytes = 14 * n + id_digits + 1  # {"id":I,"a":D} and a separator per entity, and [ ]
    with open("/proc/self/status") as status:
        used = next(int(l.split()[1]) * 1024 for l in status if l.startswith("VmSize:"))
    limit = used + int(1.6 * text_bytes)
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    for attempt in range(2):  # the second fails the same way only if the first released it all
        try:
            tessary.generate_entities(1, n, specs)
            print("returned")
        except BaseException as e:
            print(type(e).__name__, repr(str(e)))
    """
)


@pytest.mark.slow
@pytest.mark.skipif(not os.path.exists("/proc/self/status"), reason="needs /proc")
def test_no_memory_for_the_str_raises_memory_error_quietly():
    result = run_python(STR_OUT_OF_MEMORY)
    assert result.returncode == 0, result.stderr
    # The interpreter's own MemoryError (no message), not the one of the blocks.
    assert result.stdout.splitlines() == ["MemoryError ''"] * 2
    assert result.stderr == ""


# A choice with one value and more weights fails at the entity whose pick lands past the value.
FAILING_SOMETIMES = '[{"name":"k","type":"choice","values":[1],"weights":[1,1,1,1]}]'


def lowest_failure(threads: int, scale: int) -> str:
    code = (
        "import tessary\n"
        "try:\n"
        f"    tessary.generate_entities(11, {scale}, {FAILING_SOMETIMES!r})\n"
        "except BaseException as e:\n"
        "    print(type(e).__name__, str(e))\n"
    )
    result = run_python(code, {"RAYON_NUM_THREADS": str(threads)})
    assert result.returncode == 0, result.stderr
    # The failure report names the source relative to the repository, not the building machine's.
    assert "' panicked at src/kinds/choice.h:" in result.stderr
    return result.stdout.strip()


@pytest.mark.slow
def test_lowest_failing_index_wins_under_every_thread_count():
    reference = lowest_failure(1, 200_000)
    assert reference.startswith(
        "PanicException index out of bounds: the len is 1 but the index is "
    )
    for threads in (2, 3, 8):
        for _ in range(3):
            assert lowest_failure(threads, 200_000) == reference


ALL_KINDS = json.dumps(
    [
        {"name": "i", "type": "uniform_int", "low": -1000, "high": 10**12},
        {"name": "f", "type": "uniform_float", "low": -1.5, "high": 2.5},
        {"name": "n", "type": "normal", "mean": 10, "std_dev": 3, "min": 4, "max": 16},
        {"name": "c", "type": "choice", "values": ["a", {"x": [1, 2.5]}, None, True, -7]},
        {"name": "w", "type": "choice", "values": ["\u00e9t\u00e9", "b"], "weights": [0.3, 0.7]},
    ]
)


@pytest.mark.slow
def test_same_text_for_any_thread_count():
    code = (
        "import sys, hashlib, tessary\n"
        f"t = tessary.generate_entities(99, 300_000, {ALL_KINDS!r})\n"
        "print(len(t), hashlib.sha256(t.encode()).hexdigest())"
    )
    digests = set()
    for threads in (1, 2, 8):
        result = run_python(code, {"RAYON_NUM_THREADS": str(threads)})
        assert result.returncode == 0, result.stderr
        digests.add(result.stdout)
    assert len(digests) == 1
    assert generate_entities(99, 1000, ALL_KINDS) == generate_entities(99, 1000, ALL_KINDS)


spec_strategy = st.one_of(
    st.builds(
        lambda lo, width: {"type": "uniform_int", "low": lo, "high": lo + width},
        st.integers(-(2**62), 2**62),
        st.integers(0, 2**62 - 1),  # high stays an i64: at most 2^63 - 1
    ),
    st.builds(
        lambda lo, width: {"type": "uniform_float", "low": lo, "high": lo + width},
        st.floats(-1e6, 1e6),
        st.floats(1e-3, 1e6),
    ),
    st.builds(
        lambda mean, sd: {"type": "normal", "mean": mean, "std_dev": sd},
        st.floats(-1e6, 1e6),
        st.floats(0, 1e3),
    ),
    st.builds(
        lambda values: {"type": "choice", "values": values},
        st.lists(
            st.recursive(
                st.none() | st.booleans() | st.integers(-(2**63), 2**64 - 1) | st.text(max_size=5),
                lambda inner: (
                    st.lists(inner, max_size=3)
                    | st.dictionaries(st.text(max_size=3), inner, max_size=3)
                ),
                max_leaves=5,
            ),
            max_size=4,
        ),
    ),
)


@settings(max_examples=60, deadline=None)
@given(
    seed=st.integers(0, 2**64 - 1),
    scale=st.integers(0, 40),
    specs=st.lists(
        st.tuples(st.text(max_size=6).filter(lambda name: name != "id"), spec_strategy), max_size=5
    ),
)
def test_output_is_valid_json_within_the_specs(seed, scale, specs):
    document = json.dumps([{"name": name, **spec} for name, spec in specs])
    text = generate_entities(seed, scale, document)
    assert text == generate_entities(seed, scale, document)
    entities = json.loads(text)
    assert [entity["id"] for entity in entities] == list(range(scale))
    last_spec = dict(specs)
    for entity in entities:
        assert set(entity) == {"id"} | set(last_spec)
        for name, spec in last_spec.items():
            value = entity[name]
            if spec["type"] == "uniform_int" or spec["type"] == "uniform_float":
                assert spec["low"] <= value <= spec["high"]
            elif spec["type"] == "choice":
                assert value in spec["values"] or (value is None and not spec["values"])
