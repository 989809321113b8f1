"""Argument binding and conversion of the module's two functions."""

import inspect

import pytest

import tessary
from tessary import _core
from tessary._core import generate_entities, make_seed

U64_MAX = 2**64 - 1


class Index:
    """Not an int, but usable as one."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Text(str):
    pass


class Number(int):
    pass


@pytest.mark.parametrize(
    "call, message",
    [
        (
            lambda: generate_entities(1, 2, "[]", seed=3),
            "generate_entities() got multiple values for argument 'seed'",
        ),
        (
            lambda: generate_entities(1, 2),
            "generate_entities() missing 1 required positional argument: 'specs_json'",
        ),
        (
            lambda: generate_entities(1),
            "generate_entities() missing 2 required positional arguments: 'scale' and 'specs_json'",
        ),
        (
            lambda: generate_entities(),
            "generate_entities() missing 3 required positional arguments: "
            "'seed', 'scale', and 'specs_json'",
        ),
        (
            lambda: generate_entities(1, 2, "[]", 4),
            "generate_entities() takes 3 positional arguments but 4 were given",
        ),
        (
            lambda: make_seed(1, 2),
            "make_seed() takes from 0 to 1 positional arguments but 2 were given",
        ),
        (
            lambda: make_seed(seed=1, bogus=2),
            "make_seed() got an unexpected keyword argument 'bogus'",
        ),
        (lambda: make_seed(1, seed=1), "make_seed() got multiple values for argument 'seed'"),
        (
            lambda: generate_entities(seed=1, scale=1, specs_json="[]", seed_=1),
            "generate_entities() got an unexpected keyword argument 'seed_'",
        ),
        (
            lambda: generate_entities(1, 1, b"[]"),
            "argument 'specs_json': 'bytes' object cannot be converted to 'PyString'",
        ),
        (
            lambda: generate_entities(1, 1, None),
            "argument 'specs_json': 'NoneType' object cannot be converted to 'PyString'",
        ),
        (
            lambda: generate_entities(1.0, 1, "[]"),
            "argument 'seed': 'float' object cannot be interpreted as an integer",
        ),
        (
            lambda: generate_entities(1, "3", "[]"),
            "argument 'scale': 'str' object cannot be interpreted as an integer",
        ),
        (
            lambda: make_seed(2.5),
            "argument 'seed': 'float' object cannot be interpreted as an integer",
        ),
    ],
)
def test_binding_and_type_errors(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert type(caught.value) is TypeError
    assert str(caught.value) == message


def test_rewrapped_type_error_keeps_the_original_cause():
    cause = KeyError("inner")

    class BadIndex:
        def __index__(self):
            error = TypeError("no index here")
            error.__cause__ = cause
            raise error

    with pytest.raises(TypeError) as caught:
        generate_entities(BadIndex(), 1, "[]")
    assert str(caught.value) == "argument 'seed': no index here"
    assert caught.value.__cause__ is cause


def test_other_conversion_errors_pass_through_unchanged():
    class Failing:
        def __index__(self):
            raise ZeroDivisionError("boom")

    class SubTypeError(TypeError):
        pass

    class SubFailing:
        def __index__(self):
            raise SubTypeError("sub")

    with pytest.raises(ZeroDivisionError, match="^boom$"):
        generate_entities(Failing(), 1, "[]")
    with pytest.raises(SubTypeError, match="^sub$"):
        generate_entities(1, SubFailing(), "[]")


@pytest.mark.parametrize("seed", [-1, 2**64, 2**100, -(2**70)])
def test_out_of_range_integers_raise_overflow_error(seed):
    with pytest.raises(OverflowError):
        generate_entities(seed, 0, "[]")
    with pytest.raises(OverflowError):
        generate_entities(0, seed, "[]")
    with pytest.raises(OverflowError):
        make_seed(seed)


def test_first_conversion_error_wins():
    # seed is converted before specs_json, so the seed's error is reported.
    with pytest.raises(OverflowError):
        generate_entities(-1, 0, b"[]")


def test_lone_surrogates_raise_the_interpreters_unicode_encode_error():
    with pytest.raises(UnicodeEncodeError):
        generate_entities(1, 0, '["\ud800"]')


@pytest.mark.parametrize(
    "seed, scale, specs",
    [
        (True, 1, "[]"),
        (Number(1), Index(1), Text("[]")),
        (Index(1), True, "[]"),
    ],
)
def test_int_subclasses_index_objects_and_str_subclasses_are_accepted(seed, scale, specs):
    assert generate_entities(seed, scale, specs) == '[{"id":0}]'


def test_all_ones_is_a_valid_value():
    assert make_seed(U64_MAX) == U64_MAX
    assert make_seed(Index(U64_MAX)) == U64_MAX
    assert generate_entities(U64_MAX, 0, "[]") == "[]"


def test_keywords_in_any_order():
    expected = generate_entities(5, 3, '[{"name":"x","type":"uniform_int","low":0,"high":9}]')
    assert (
        generate_entities(
            specs_json='[{"name":"x","type":"uniform_int","low":0,"high":9}]', scale=3, seed=5
        )
        == expected
    )
    assert (
        generate_entities(
            5, specs_json='[{"name":"x","type":"uniform_int","low":0,"high":9}]', scale=3
        )
        == expected
    )
    assert generate_entities(seed=1, scale=0, specs_json="[]") == "[]"


def test_make_seed():
    assert make_seed(0) == 0
    assert make_seed(5) == 5
    assert make_seed(seed=7) == 7
    assert make_seed(True) == 1
    drawn = {make_seed() for _ in range(8)} | {make_seed(None) for _ in range(8)}
    assert len(drawn) > 1
    assert all(0 <= value <= U64_MAX for value in drawn)


def test_module_surface():
    assert _core.__all__ == ["make_seed", "generate_entities"]
    public = {name for name in vars(_core) if not name.startswith("__")}
    assert public == {"make_seed", "generate_entities"}
    assert _core.__doc__ == "Tessary C++ core extension module."
    assert tessary.generate_entities is generate_entities
    assert tessary.make_seed is make_seed
    assert generate_entities.__module__ == "tessary._core"
    assert generate_entities.__self__ is _core


def test_docstrings_and_signatures():
    assert make_seed.__doc__ == (
        "Return a u64 seed derived from an optional user-supplied seed.\n"
        "Passing None draws from the OS entropy source."
    )
    assert generate_entities.__doc__ == (
        "Generate `scale` entities using Monte Carlo sampling.\n\n"
        "`specs_json` is a JSON array of attribute spec objects, e.g.:\n"
        '  [{"name":"age","type":"uniform_int","low":18,"high":80}, ...]\n\n'
        "Returns a JSON string (array of entity objects)."
    )
    assert str(inspect.signature(make_seed)) == "(seed=None)"
    assert str(inspect.signature(generate_entities)) == "(seed, scale, specs_json)"
