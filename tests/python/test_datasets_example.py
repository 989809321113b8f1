"""The example data set, examples/shop.json, written as Parquet and joined in DuckDB: every
reference finds its parent row, and the columns copied through `same_as` agree with the row their
pick names, in the whole tables and in slices written apart."""

import pytest

import tessary
from helpers import EXAMPLES

duckdb = pytest.importorskip("duckdb")

SHOP = (EXAMPLES / "shop.json").read_text()

# child table, reference column, parent table, the parent's attribute it copies
REFERENCES = [
    ("orders", "customer_id", "customers", "customer_id"),
    ("order_lines", "order_id", "orders", "order_id"),
    ("order_lines", "product_id", "products", "product_id"),
]
SLICED = {"orders": 1234, "order_lines": 7000}  # where each child is cut in two


@pytest.fixture(scope="module")
def shop(tmp_path_factory):
    """The folder the data set is written to, and the child tables written as two slices."""
    dataset = tessary.Dataset(7, SHOP)
    assert dataset.check() == []
    folder = tmp_path_factory.mktemp("shop") / "shop"
    dataset.write(folder)
    slices = {}
    for name, cut in SLICED.items():
        table = dataset[name]
        slices[name] = [str(folder.parent / f"{name}-{i}.parquet") for i in range(2)]
        table[:cut].write(slices[name][0], format="parquet")
        table[cut:].write(slices[name][1], format="parquet")
    return dataset, folder, slices


def sources(shop, layout, name):
    """The DuckDB source of a table: the data set's file, or its slices read together."""
    _, folder, slices = shop
    files = [str(folder / f"{name}.parquet")] if layout == "whole" else slices[name]
    return f"read_parquet({files!r})"


def one_row(query):
    (row,) = duckdb.sql(query).fetchall()
    return row


@pytest.mark.parametrize("layout", ["whole", "slices"])
@pytest.mark.parametrize("child, column, parent, key", REFERENCES)
def test_every_reference_finds_its_parent_row(shop, layout, child, column, parent, key):
    dataset = shop[0]
    children, parents = sources(shop, layout, child), sources(shop, "whole", parent)
    rows, orphans = one_row(
        f"select (select count(*) from {children}), (select count(*) from {children} c "
        f"anti join {parents} p on c.{column} = p.{key})"
    )
    assert (rows, orphans) == (dataset[child].count, 0)


@pytest.mark.parametrize("layout", ["whole", "slices"])
def test_a_copied_price_is_the_price_of_the_product_picked(shop, layout):
    lines, products = sources(shop, layout, "order_lines"), sources(shop, "whole", "products")
    matched, disagreeing, priced = one_row(
        f"select count(*), count(*) filter (where l.unit_price is distinct from p.price), "
        f"count(l.unit_price) from {lines} l join {products} p using (product_id)"
    )
    assert (matched, disagreeing) == (shop[0]["order_lines"].count, 0)
    assert priced > matched / 2  # the prices compared are mostly not null
    # Zipf-popular products: the first product gets a fifth of the lines, not 1 in 200.
    (top,) = one_row(
        f"select max(n) from (select count(*) as n from {lines} group by product_id)"
    )
    assert top > matched / 10


@pytest.mark.parametrize("name", SLICED)
def test_slices_written_apart_hold_the_rows_of_the_whole_table(shop, name):
    whole, sliced = sources(shop, "whole", name), sources(shop, "slices", name)
    (differing,) = one_row(
        f"select count(*) from ((select * from {whole} except all select * from {sliced}) "
        f"union all (select * from {sliced} except all select * from {whole}))"
    )
    assert differing == 0
