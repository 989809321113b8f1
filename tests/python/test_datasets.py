"""Data sets: references rebuild their parents' values, tables keep their own streams, and a
document that cannot be built is refused before anything is."""

from __future__ import annotations

import json
import pickle

import pyarrow as pa
import pytest

import tessary
from helpers import table_digests_by_threads

# A parent whose referenced attributes come after hidden ones, nulls, a switch and a reference of
# its own, so that rebuilding it must replay every draw before them; and a grandparent whose
# attributes are copied without a record of its entity: a string with nulls that comes first, a
# key after an attribute that takes draws (which the key does not depend on), and a choice whose
# draw follows that of the string.
FAMILY = {
    "tables": [
        {"name": "child", "scale": 3000, "attributes": [
            {"name": "row", "type": "reference", "table": "parent"},
            {"name": "key", "type": "reference", "table": "parent", "attribute": "key",
             "same_as": "row"},
            {"name": "label", "type": "reference", "table": "parent", "attribute": "label",
             "same_as": "row"},
            {"name": "tier", "type": "reference", "table": "parent", "attribute": "tier",
             "same_as": "row"},
            {"name": "origin", "type": "reference", "table": "parent", "attribute": "origin",
             "same_as": "row"},
            {"name": "popular", "type": "reference", "table": "parent", "attribute": "key",
             "distribution": {"zipf": 1.2}},
            {"name": "place", "type": "reference", "table": "grandparent"},
            {"name": "city", "type": "reference", "table": "grandparent", "attribute": "city",
             "same_as": "place"},
            {"name": "serial", "type": "reference", "table": "grandparent",
             "attribute": "serial", "same_as": "place"},
            {"name": "zone", "type": "reference", "table": "grandparent", "attribute": "zone",
             "same_as": "place"},
        ]},
        {"name": "parent", "scale": 500, "attributes": [
            {"name": "first", "type": "choice", "values": ["ann", "bo", "cy"], "hidden": True},
            {"name": "size", "type": "normal", "mean": 10, "std_dev": 3, "null_rate": 0.3},
            {"name": "tier", "type": "switch", "on": "first", "cases": [
                {"when": "ann", "then": {"type": "uniform_int", "low": 1, "high": 3}}],
             "default": {"type": "const", "value": "none"}},
            {"name": "origin", "type": "reference", "table": "grandparent", "attribute": "city"},
            {"name": "key", "type": "unique_int", "low": 1, "high": 10000000},
            {"name": "label", "type": "template", "template": "{first}-{key}", "null_rate": 0.2},
        ]},
        {"name": "grandparent", "scale": 40, "attributes": [
            {"name": "city", "type": "pattern", "pattern": "[A-Z][a-z]{3,8}", "null_rate": 0.2},
            {"name": "serial", "type": "unique_int", "low": -50, "high": 50},
            {"name": "zone", "type": "choice", "values": ["n", "e", "s", "w"],
             "weights": [1, 2, 3, 4]},
        ]},
    ]
}


def rows(table: tessary.Table) -> list[dict[str, object]]:
    return pa.table(table).to_pylist()


def test_a_referenced_value_is_the_parent_tables_own_value_for_that_id() -> None:
    dataset = tessary.Dataset(11, json.dumps(FAMILY))
    # In the columns and in the text, which draw their values apart.
    for read in (rows, lambda table: json.loads(table.text())):
        parents, places = read(dataset["parent"]), read(dataset["grandparent"])
        children = read(dataset["child"])
        for child in children:
            parent, place = parents[child["row"]], places[child["place"]]
            assert (child["key"], child["label"], child["tier"], child["origin"]) == (
                parent["key"], parent["label"], parent["tier"], parent["origin"]
            )
            assert (child["city"], child["serial"], child["zone"]) == (
                place["city"], place["serial"], place["zone"]
            )
    # The nulls and the switch's branches are all reached, and the zipf pick favours low ids.
    children, parents = rows(dataset["child"]), rows(dataset["parent"])
    assert {c["label"] is None for c in children} == {True, False}
    assert {c["city"] is None for c in children} == {True, False}
    assert {c["tier"] == '"none"' for c in children} == {True, False}  # a column of JSON texts
    keys = [p["key"] for p in parents]
    popular = [keys.index(c["popular"]) for c in children]
    assert sum(p == 0 for p in popular) > sum(p == 1 for p in popular) > 10
    # A slice rebuilds the same values, and so does a table unpickled elsewhere.
    assert rows(dataset["child"][1234:1300]) == children[1234:1300]
    assert pickle.loads(pickle.dumps(dataset["child"][5:9])).text() == dataset["child"][5:9].text()


def test_a_data_set_table_is_the_same_on_any_number_of_threads() -> None:
    outputs = table_digests_by_threads(3, 0, json.dumps(FAMILY), ["1", "2", "8"], table="child")
    assert outputs[0] == outputs[1] == outputs[2]


def renamed(document: dict, old: str, new: str) -> dict:
    text = json.dumps(document).replace(f'"{old}"', f'"{new}"')
    return json.loads(text)


def test_adding_or_renaming_a_table_changes_only_what_depends_on_it() -> None:
    base = tessary.Dataset(5, json.dumps(FAMILY))
    added = dict(FAMILY, tables=[*FAMILY["tables"], {"name": "extra", "scale": 9, "attributes": [
        {"name": "x", "type": "reference", "table": "parent"}]}])
    grown = tessary.Dataset(5, json.dumps(added))
    for name in base.tables:
        assert grown[name].text("jsonl") == base[name].text("jsonl")

    moved = tessary.Dataset(5, json.dumps(renamed(FAMILY, "grandparent", "places")))
    assert moved["places"].table_seed != base["grandparent"].table_seed
    assert moved["places"].text() != base["grandparent"].text()
    # The parent's own values and its picks stay; only what it copies from the renamed table
    # changes.
    before, after = rows(base["parent"]), rows(moved["parent"])
    assert [{**r, "origin": None} for r in before] == [{**r, "origin": None} for r in after]
    assert [r["origin"] for r in before] != [r["origin"] for r in after]
    assert rows(moved["child"])[0]["row"] == rows(base["child"])[0]["row"]


def document_of(*tables: tuple[str, int, list[dict]]) -> str:
    return json.dumps({"tables": [{"name": n, "scale": s, "attributes": a} for n, s, a in tables]})


def ref(table: str, **members: object) -> dict:
    return {"name": members.pop("name", "r"), "type": "reference", "table": table, **members}


KEY = {"name": "k", "type": "uniform_int", "low": 0, "high": 9}


# Each error is placed at the first byte of `at` in the one-line document.
@pytest.mark.parametrize(
    ("document", "message", "at"),
    [
        (document_of(("a", 1, [ref("b")]), ("b", 1, [ref("a")])),
         "the references of tables `a` -> `b` -> `a` form a cycle", '"a", "scale"'),
        (document_of(("a", 1, [ref("a")])), "table `a` refers to itself", '"a", "scale"'),
        (document_of(("a", 1, [ref("nowhere")])),
         "table `a`: attribute `r`: `table`: no table of the data set is named `nowhere`",
         'nowhere"'),
        (document_of(("a", 1, [ref("b", attribute="missing")]), ("b", 1, [KEY])),
         "table `b` has no attribute `missing`", 'missing"'),
        (document_of(("a", 1, [KEY, ref("b", same_as="k")]), ("b", 1, [KEY])),
         "`same_as`: `k` is a `uniform_int`, not a `reference`", 'k"}'),
        (document_of(("a", 1, [ref("b", name="p"), ref("c", same_as="p")]), ("b", 1, []),
                     ("c", 1, [])),
         "`same_as`: `p` refers to table `b`, not to `c`", 'p"}'),
        (document_of(("a", 1, [ref("b", same_as="later"), ref("b", name="later")]), ("b", 1, [])),
         "`same_as`: no attribute before this one is named `later`", 'later"}'),
        (document_of(("a", 1, [ref("b")]), ("b", 0, [])), "table `b` has no entities",
         '{"name": "r"'),
        (document_of(("a b", 1, [])), "a table's name must be ASCII letters", '"a b"'),
    ],
)
def test_a_document_that_cannot_be_built_is_refused_at_its_place(
    document: str, message: str, at: str
) -> None:
    with pytest.raises(ValueError) as error:
        tessary.Dataset(0, document)
    assert message in str(error.value)
    assert str(error.value).endswith(f" at line 1 column {document.index(at) + 1}")


def test_a_reference_outside_a_data_set_is_refused() -> None:
    with pytest.raises(ValueError, match="belongs to a data set document"):
        tessary.Table(0, 1, json.dumps([ref("b")]))
    # A parent without entities is fine for a child without any.
    assert tessary.Dataset(0, document_of(("a", 0, [ref("b")]), ("b", 0, [])))["a"].text() == "[]"


def test_a_write_that_fails_part_way_leaves_no_folder(tmp_path) -> None:
    # Entity 0 builds, later ones pick past the single value: the failure comes mid-write.
    failing = {"name": "w", "type": "choice", "values": [1], "weights": [1, 0.01]}
    dataset = tessary.Dataset(0, document_of(("fine", 3, [KEY]), ("late", 100_000, [failing])))
    dataset["late"][:1].text()
    with pytest.raises(tessary.PanicException, match="^table `late`: index out of bounds"):
        dataset.write(tmp_path / "shop", format="jsonl")
    assert list(tmp_path.iterdir()) == []
