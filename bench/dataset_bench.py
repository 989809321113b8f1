"""What references cost in a data set, measured side by side in one run (seed 11, an orders table
of 10^7 rows by default, medians of alternating rounds):

  (a) pyarrow.table(ds["orders"]) of a data set of customers (10^6), products (10^5), stores
      (10^3) and orders, against a plain Table of the same orders with each reference replaced
      by a uniform_int over the parent's ids, on all cores (target: a ratio of at most 1.3).
      The orders' references read only the parents' keys, which stand at positions 0, 1 and 2
      of their tables, and pick uniformly: with the keys numbered by `sequence`, and with the
      keys made by `unique_int` (whose keyed permutation the rebuild computes, as the parent
      table does for its own column). A third variant is the orders of a shop: unique_int keys,
      Zipf-picked products and the customer's country copied through same_as (what a Zipf draw
      and a copied weighted choice add, which a uniform_int does not compute);
  (b) the same tables written as Parquet files (to /dev/shm by default, so that the disk does
      not set the pace), as a ratio too;
and, on one thread (a child interpreter with RAYON_NUM_THREADS=1), in nanoseconds of CPU time per
row (less disturbed by the machine's other processes than the wall clock):
  (c) a reference against the position of the parent attribute it reads: a one-attribute child
      referencing attribute 0, 1, 2, 4 or 8 of a parent of nine cheap attributes (or the parent's
      id, which rebuilds nothing), less the same child with a uniform_int over the parent's ids;
  (d) where the shop's orders spend their extra time: its orders with some of their references
      put back in place of the uniform_int, less the orders with none. A reference to the
      parent's `id` picks as one to its key does but rebuilds nothing: the difference is the
      parent's rebuild.

Run: python bench/dataset_bench.py [--rows N] [--rounds N] [--dir FOLDER]
"""

from __future__ import annotations

import argparse
import json
import os
import shlex
import statistics
import sys
import tempfile
import time
from collections.abc import Callable

import pyarrow as pa
from timing import alternating_medians, child_json

import tessary

SEED = 11
CUSTOMERS = 10**6
PRODUCTS = 10**5
STORES = 10**3
# The parent of the position sweep: the referenced positions are uniform_int (an int64 column, as
# the uniform_int that replaces the reference), the ones between them cheap choices.
WIDE_SCALE = 10**6
WIDE_ATTRIBUTES = 9
POSITIONS = [0, 1, 2, 4, 8]
# The orders of (a) and (b). The first two are the orders the target is set for: references to
# keys only, picked uniformly.
SEQUENCE_KEYS = "sequence keys"
UNIQUE_INT_KEYS = "unique_int keys"
SHOP = "a shop: unique_int keys, zipf products, a copied country"
VARIANTS = (SEQUENCE_KEYS, UNIQUE_INT_KEYS, SHOP)


def key(name: str, scale: int, variant: str) -> dict:
    if variant == SEQUENCE_KEYS:
        return {"name": name, "type": "sequence", "start": 1}
    return {"name": name, "type": "unique_int", "low": 1, "high": scale}


def shop_document(rows: int, variant: str = SHOP) -> dict:
    """Customers, products, stores and orders; every reference reads one of its parent's first
    three attributes: the customers' key is their first attribute, the products' their second and
    the stores' their third, after attributes that take draws."""
    return {"tables": [
        {"name": "customers", "scale": CUSTOMERS, "attributes": [
            key("customer_id", CUSTOMERS, variant),
            {"name": "country", "type": "choice",
             "values": ["US", "DE", "FR", "GB", "JP", "BR", "IN", "CA"],
             "weights": [30, 10, 9, 9, 8, 6, 5, 4]},
            {"name": "segment", "type": "choice", "values": ["consumer", "business", "public"],
             "weights": [7, 2, 1]},
            {"name": "since", "type": "date", "start": "2015-01-01", "end": "2024-12-31"},
        ]},
        {"name": "products", "scale": PRODUCTS, "attributes": [
            {"name": "category", "type": "choice",
             "values": ["books", "games", "garden", "kitchen", "toys"]},
            key("product_id", PRODUCTS, variant),
            {"name": "price", "type": "normal", "mean": 40, "std_dev": 12, "min": 1,
             "decimals": 2},
        ]},
        {"name": "stores", "scale": STORES, "attributes": [
            {"name": "city", "type": "pattern", "pattern": "[A-Z][a-z]{4,9}"},
            {"name": "opened", "type": "date", "start": "2000-01-01", "end": "2020-12-31"},
            key("store_id", STORES, variant),
        ]},
        {"name": "orders", "scale": rows, "attributes": [
            {"name": "order_id", "type": "unique_int", "low": 1, "high": rows},
            {"name": "customer_id", "type": "reference", "table": "customers",
             "attribute": "customer_id"},
            {"name": "product_id", "type": "reference", "table": "products",
             "attribute": "product_id"}
            | ({"distribution": {"zipf": 1.1}} if variant == SHOP else {}),
            *([{"name": "customer_country", "type": "reference", "table": "customers",
                "attribute": "country", "same_as": "customer_id"}] if variant == SHOP else []),
            {"name": "store_id", "type": "reference", "table": "stores", "attribute": "store_id"},
            {"name": "ordered_at", "type": "timestamp", "start": "2023-01-01T00:00:00Z",
             "end": "2024-12-31T23:59:59Z"},
            {"name": "quantity", "type": "poisson", "mean": 2},
            {"name": "status", "type": "choice",
             "values": ["placed", "paid", "shipped", "delivered", "returned"],
             "weights": [5, 10, 20, 60, 5]},
        ]},
    ]}  # fmt: skip


def without_references(document: dict, name: str) -> list[dict]:
    """The attributes of table `name` with each reference replaced by a uniform_int over its
    parent's ids (the id a reference picks, without the parent's value it reads)."""
    scales = {table["name"]: table["scale"] for table in document["tables"]}
    (table,) = [table for table in document["tables"] if table["name"] == name]
    return [
        {"name": spec["name"], "type": "uniform_int", "low": 0,
         "high": scales[spec["table"]] - 1}
        if spec["type"] == "reference" else spec
        for spec in table["attributes"]
    ]  # fmt: skip


def wide_document(rows: int, attribute: str) -> dict:
    """A parent of nine cheap attributes and a child of one reference to its `attribute`."""
    wide = [
        {"name": f"a{k}", "type": "uniform_int", "low": 0, "high": 10**9}
        if k in POSITIONS else
        {"name": f"a{k}", "type": "choice", "values": ["x", "y", "z"]}
        for k in range(WIDE_ATTRIBUTES)
    ]  # fmt: skip
    return {"tables": [
        {"name": "wide", "scale": WIDE_SCALE, "attributes": wide},
        {"name": "child", "scale": rows, "attributes": [
            {"name": "pick", "type": "reference", "table": "wide", "attribute": attribute},
        ]},
    ]}  # fmt: skip


def orders_makers(
    rows: int, variant: str
) -> tuple[Callable[[], tessary.Table], Callable[[], tessary.Table]]:
    """Makers of the orders Table with references and of the same orders with uniform_int (a
    plain Table under the orders' seed)."""
    document = shop_document(rows, variant)
    dataset = tessary.Dataset(SEED, json.dumps(document))
    plain = json.dumps(without_references(document, "orders"))
    table_seed = dataset["orders"].table_seed
    return (lambda: dataset["orders"]), (lambda: tessary.Table(table_seed, rows, plain))


def arrow_seconds(rows: int, rounds: int, variant: str) -> list[float]:
    """Seconds of pyarrow.table of the orders, with references and with uniform_int."""
    makers = orders_makers(rows, variant)
    return alternating_medians(
        rounds, *[(lambda: None, lambda _, make=make: pa.table(make())) for make in makers]
    )


def parquet_seconds(
    rows: int, rounds: int, folder: str, variant: str
) -> tuple[list[float], list[int]]:
    """Seconds of writing the orders as Parquet, with references and with uniform_int, and the
    two files' sizes."""
    paths = [os.path.join(folder, "orders.parquet"), os.path.join(folder, "plain.parquet")]

    def removed(path: str) -> str:
        if os.path.exists(path):
            os.unlink(path)
        return path

    seconds = alternating_medians(
        rounds,
        *[(lambda path=path: removed(path), lambda path, make=make: make().write(path))
          for path, make in zip(paths, orders_makers(rows, variant), strict=True)],
    )  # fmt: skip
    sizes = [os.path.getsize(path) for path in paths]
    for path in paths:
        removed(path)
    return seconds, sizes


def reference_costs(rows: int, rounds: int) -> dict[str, float]:
    """Seconds per row of a reference to the wide parent's id and to each position, less the
    same child with a uniform_int over the parent's ids, in alternating rounds."""
    targets = {"id": "id"} | {str(k): f"a{k}" for k in POSITIONS}
    calls = []
    for attribute in targets.values():
        document = wide_document(rows, attribute)
        dataset = tessary.Dataset(SEED, json.dumps(document))
        plain = json.dumps(without_references(document, "child"))
        calls.append((lambda: None, lambda _, d=dataset: pa.table(d["child"])))
        calls.append((lambda: None, lambda _, p=plain: pa.table(tessary.Table(SEED, rows, p))))
    seconds = alternating_medians(rounds, *calls, clock=time.process_time)
    # The uniform_int children are the same table each time: their median over all of them.
    baseline = statistics.median(seconds[1::2])
    return {
        position: (reference - baseline) / rows
        for position, reference in zip(targets, seconds[0::2], strict=True)
    }


# (d): the references put back into the uniform_int orders, each step by the names of the
# attributes made references again, with the parent attribute that each reads.
STEPS = {
    "customer_id -> customers.id": {"customer_id": "id"},
    "customer_id -> customers.customer_id": {"customer_id": "customer_id"},
    "product_id -> products.id (zipf)": {"product_id": "id"},
    "product_id -> products.product_id (zipf)": {"product_id": "product_id"},
    "store_id -> stores.store_id (position 2)": {"store_id": "store_id"},
    "the two customer references": {"customer_id": "customer_id", "customer_country": "country"},
    "all four (the shop's orders of (a))": {"customer_id": "customer_id",
                                           "product_id": "product_id",
                                           "customer_country": "country",
                                           "store_id": "store_id"},
}  # fmt: skip


def step_costs(rows: int, rounds: int) -> dict[str, float]:
    """Seconds per row of each step of STEPS over the orders without references."""
    document = shop_document(rows)
    (orders,) = [table for table in document["tables"] if table["name"] == "orders"]
    references = {spec["name"]: spec for spec in orders["attributes"]}
    plain = without_references(document, "orders")
    datasets = []
    for put_back in [{}, *STEPS.values()]:
        orders["attributes"] = [
            references[spec["name"]] | {"attribute": put_back[spec["name"]]}
            if spec["name"] in put_back else spec
            for spec in plain
        ]  # fmt: skip
        datasets.append(tessary.Dataset(SEED, json.dumps(document)))
    calls = [(lambda: None, lambda _, d=dataset: pa.table(d["orders"])) for dataset in datasets]
    base, *seconds = alternating_medians(rounds, *calls, clock=time.process_time)
    return {step: (t - base) / rows for step, t in zip(STEPS, seconds, strict=True)}


def start_pool() -> None:
    """Starts the worker pool before the first round."""
    pa.table(tessary.Dataset(SEED, json.dumps(shop_document(1000)))["orders"])


def loads() -> str:
    return " ".join(f"{x:.2f}" for x in os.getloadavg())


def main() -> None:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--rows", type=int, default=10**7, help="rows of the orders table")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--dir", default="/dev/shm", help="where the Parquet files are written")
    parser.add_argument("--child-costs", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    rows, rounds = args.rows, args.rounds
    if args.child_costs:
        start_pool()
        positions = reference_costs(rows, rounds)
        print(json.dumps({"positions": positions, "steps": step_costs(rows, rounds)}))
        return

    print("command: " + shlex.join([os.path.basename(sys.executable), *sys.argv]))
    print("load average (1, 5, 15 min) at the start: " + loads())
    print(
        f"{rows:,} orders, {CUSTOMERS:,} customers, {PRODUCTS:,} products, {STORES:,} stores; "
        f"{os.cpu_count()} "
        f"cores, {rounds} rounds; tessary {tessary.__version__}, pyarrow {pa.__version__}"
    )
    start_pool()

    print(f"    {'orders':<22} {'references':>11} {'uniform_int':>12} {'ratio':>7}  target <= 1.3")
    for variant in VARIANTS:
        print(f"  {variant}:")
        arrow = arrow_seconds(rows, rounds, variant)
        with tempfile.TemporaryDirectory(dir=args.dir, prefix="tessary-dataset-bench.") as folder:
            parquet, (size, plain_size) = parquet_seconds(rows, rounds, folder, variant)
        for what, (ours, theirs) in (("(a) Arrow table", arrow), ("(b) Parquet file", parquet)):
            verdict = "(no target)"
            if variant != SHOP:
                verdict = "met" if ours / theirs <= 1.3 else "missed"
            print(
                f"    {what:<22} {ours:9.3f} s {theirs:10.3f} s {ours / theirs:7.3f}  {verdict}  "
                f"({rows / ours / 1e6:.2f} against {rows / theirs / 1e6:.2f} M rows/s)"
            )
        print(
            f"    Parquet files: {size / 1e6:,.1f} MB with references, {plain_size / 1e6:,.1f} "
            "MB with uniform_int"
        )

    costs = child_json(__file__, "--child-costs", rows, rounds, RAYON_NUM_THREADS="1")
    print(
        f"(c) CPU ns per reference on one thread by the parent attribute it reads "
        f"({WIDE_ATTRIBUTES} attributes, {WIDE_SCALE:,} entities):"
    )
    for position, seconds in costs["positions"].items():
        label = "id" if position == "id" else f"position {position}"
        print(f"    {label:<42} {seconds * 1e9:8.1f}")
    print("(d) CPU ns per row on one thread of the orders with these references put back:")
    for step, seconds in costs["steps"].items():
        print(f"    {step:<42} {seconds * 1e9:8.1f}")
    print("load average (1, 5, 15 min) at the end: " + loads())


if __name__ == "__main__":
    main()
