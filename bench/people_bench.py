"""The "people" benchmark of the string kinds and the kinds that read earlier attributes, measured
side by side in one run (seed 11, 10^6 rows by default, medians of alternating rounds).

Every row: a first and a last name, each a weighted choice among 1,000 made-up names and hidden
(drawn, not written); an email made of them, lower-cased; a North American phone number of the
pattern +1-[2-9]ddd-ddd-dddd; a country (a weighted choice of twelve); a job (a weighted choice of
five); a salary, normal with the job's mean and standard deviation, rounded to cents; and a bonus,
a tenth of the salary rounded to cents. The names, weights, countries, jobs and salary laws are the
same for every contender (the names and their weights come from a seeded NumPy generator).

  (a) pyarrow.table(tessary.Table(seed, rows, specs)) on all cores, against NumPy drawing on one
      Generator and Polars assembling the same columns as a DataFrame (target: ratio <= 0.5);
  (b) the table as JSON Lines to /dev/null, the Table made and written, against the same NumPy +
      Polars DataFrame made and written by write_ndjson (target: ratio <= 0.5);
  (c) Faker and Mimesis making the same rows as a list of dicts, one row at a time, timed on
      2*10^4 rows and scaled to the table's rows, beside tessary's (a) and (b);
  (d) per column, the nanoseconds per row on one thread of tessary and of NumPy + Polars (in a
      child interpreter with RAYON_NUM_THREADS=1 and POLARS_MAX_THREADS=1), to show which kind
      costs what.

Each contender's rows are checked once before the timing (email made of two listed names, phone
of the pattern, listed country and job, salary near its job's law, bonus a tenth of the salary) so
that none is measured doing less.

Run: python bench/people_bench.py [--rows N] [--rounds N] [--peer-rows N]
"""

from __future__ import annotations

import argparse
import itertools
import json
import os
import re
import statistics

import numpy as np
import polars as pl
import pyarrow as pa
from faker import Faker
from mimesis import Field, Schema
from timing import alternating_medians, child_json

import tessary

SEED = 11
NAMES_SEED = 2024
NAME_COUNT = 1000
PHONE_PATTERN = r"\+1-[2-9]\d{2}-\d{3}-\d{4}"
EMAIL_TEMPLATE = "{first:lower}.{last:lower}@example.com"
COUNTRIES = ["US", "CA", "MX", "GB", "DE", "FR", "ES", "IT", "NL", "JP", "BR", "IN"]
COUNTRY_WEIGHTS = [30.0, 8.0, 6.0, 9.0, 9.0, 8.0, 5.0, 5.0, 3.0, 7.0, 5.0, 5.0]
# Each job's share and its salary's mean and standard deviation.
JOBS = {
    "engineer": (4.0, 95_000.0, 15_000.0),
    "nurse": (3.0, 72_000.0, 9_000.0),
    "teacher": (3.0, 58_000.0, 7_000.0),
    "designer": (1.5, 68_000.0, 12_000.0),
    "manager": (1.0, 110_000.0, 20_000.0),
}
JOB_NAMES = list(JOBS)
JOB_WEIGHTS = [share for share, _, _ in JOBS.values()]
COLUMNS = ["id", "email", "phone", "country", "job", "salary", "bonus"]
SYLLABLES = [
    "al", "an", "ar", "bel", "bo", "ca", "da", "del", "el", "en", "fa", "ga", "ha", "is", "ja",
    "ka", "la", "le", "li", "lo", "ma", "mi", "mo", "na", "ne", "ni", "no", "or", "pa", "ra",
    "re", "ri", "ro", "sa", "se", "si", "so", "ta", "te", "ti", "to", "va", "vi", "wen", "ya",
    "za", "zo",
]  # fmt: skip


def made_up_names(rng: np.random.Generator, count: int) -> list[str]:
    """`count` distinct capitalised names of two or three syllables, in the order drawn."""
    names: dict[str, None] = {}
    while len(names) < count:
        parts = rng.choice(SYLLABLES, rng.integers(2, 4))
        names.setdefault("".join(parts).capitalize(), None)
    return list(names)


def name_lists() -> tuple[list[str], list[float], list[str], list[float]]:
    """First names, their weights, last names, theirs: lognormal weights in no particular order
    (rounded to four digits so that every contender reads the same numbers)."""
    rng = np.random.default_rng(NAMES_SEED)
    first = made_up_names(rng, NAME_COUNT)
    first_weights = np.round(rng.lognormal(0.0, 1.0, NAME_COUNT), 4).tolist()
    last = made_up_names(rng, NAME_COUNT)
    last_weights = np.round(rng.lognormal(0.0, 1.0, NAME_COUNT), 4).tolist()
    return first, first_weights, last, last_weights


FIRST, FIRST_WEIGHTS, LAST, LAST_WEIGHTS = name_lists()


def specs(weighted_names: bool = True) -> list[dict]:
    """The people specs; without `weighted_names` the names are picked uniformly (to show what the
    weighted picks among 1,000 cost)."""
    cases = [
        {"when": job, "then": {"type": "normal", "mean": mean, "std_dev": std_dev, "decimals": 2}}
        for job, (_, mean, std_dev) in JOBS.items()
    ]
    return [
        {"name": "first", "type": "choice", "values": FIRST, "hidden": True}
        | ({"weights": FIRST_WEIGHTS} if weighted_names else {}),
        {"name": "last", "type": "choice", "values": LAST, "hidden": True}
        | ({"weights": LAST_WEIGHTS} if weighted_names else {}),
        {"name": "email", "type": "template", "template": EMAIL_TEMPLATE},
        {"name": "phone", "type": "pattern", "pattern": PHONE_PATTERN},
        {"name": "country", "type": "choice", "values": COUNTRIES, "weights": COUNTRY_WEIGHTS},
        {"name": "job", "type": "choice", "values": JOB_NAMES, "weights": JOB_WEIGHTS},
        {"name": "salary", "type": "switch", "on": "job", "cases": cases},
        {"name": "bonus", "type": "expression", "expression": "round(salary * 0.1, 2)",
         "as": "float"},
    ]  # fmt: skip


SPECS_JSON = json.dumps(specs())
UNIFORM_NAMES_SPECS_JSON = json.dumps(specs(weighted_names=False))


# --- the contenders ----------------------------------------------------------------------------


def tessary_table(rows: int, specs_json: str = SPECS_JSON) -> pa.Table:
    return pa.table(tessary.Table(SEED, rows, specs_json))


def tessary_jsonl(rows: int) -> int:
    return tessary.Table(SEED, rows, SPECS_JSON).write("/dev/null", format="jsonl").text_bytes


def probabilities(weights: list[float]) -> np.ndarray:
    p = np.asarray(weights)
    return p / p.sum()


FIRST_P, LAST_P = probabilities(FIRST_WEIGHTS), probabilities(LAST_WEIGHTS)
COUNTRY_P, JOB_P = probabilities(COUNTRY_WEIGHTS), probabilities(JOB_WEIGHTS)
# Names as Polars strings, countries and jobs as enums (a dictionary column, as tessary's choice).
FIRST_SERIES, LAST_SERIES = pl.Series(FIRST), pl.Series(LAST)
COUNTRY_SERIES = pl.Series(COUNTRIES, dtype=pl.Enum(COUNTRIES))
JOB_SERIES = pl.Series(JOB_NAMES, dtype=pl.Enum(JOB_NAMES))


def email_column() -> pl.Expr:
    return (
        pl.concat_str(pl.col("first"), pl.lit("."), pl.col("last"), pl.lit("@example.com"))
        .str.to_lowercase()
        .alias("email")
    )


def phone_column() -> pl.Expr:
    """From the integer columns area (200..999), exchange (0..999) and line (0..9999)."""
    area, exchange, line = (
        pl.col(name).cast(pl.String).str.zfill(width)
        for name, width in (("area", 3), ("exchange", 3), ("line", 4))
    )
    return pl.concat_str(pl.lit("+1-"), area, pl.lit("-"), exchange, pl.lit("-"), line).alias(
        "phone"
    )


def salary_column() -> pl.Expr:
    """From the job and a standard normal column z."""
    (job, (_, mean, std_dev)), *others = JOBS.items()
    salary = pl.when(pl.col("job") == job).then(mean + std_dev * pl.col("z"))
    for job, (_, mean, std_dev) in others:
        salary = salary.when(pl.col("job") == job).then(mean + std_dev * pl.col("z"))
    return salary.round(2).alias("salary")


def bonus_column() -> pl.Expr:
    return (pl.col("salary") * 0.1).round(2).alias("bonus")


def polars_names(rng: np.random.Generator, rows: int, weighted_names: bool) -> dict[str, pl.Series]:
    first_p, last_p = (FIRST_P, LAST_P) if weighted_names else (None, None)
    return {
        "first": FIRST_SERIES.gather(rng.choice(NAME_COUNT, rows, p=first_p)),
        "last": LAST_SERIES.gather(rng.choice(NAME_COUNT, rows, p=last_p)),
    }


def polars_phone_digits(rng: np.random.Generator, rows: int) -> dict[str, np.ndarray]:
    return {
        "area": rng.integers(200, 1000, rows),
        "exchange": rng.integers(0, 1000, rows),
        "line": rng.integers(0, 10_000, rows),
    }


def polars_frame(rows: int, weighted_names: bool = True) -> pl.DataFrame:
    """NumPy draws every column on one Generator; Polars gathers the picks and builds the strings,
    the salary and the bonus as column expressions."""
    rng = np.random.default_rng(SEED)
    frame = pl.DataFrame(
        {
            "id": np.arange(rows, dtype=np.uint64),
            **polars_names(rng, rows, weighted_names),
            **polars_phone_digits(rng, rows),
            "country": COUNTRY_SERIES.gather(rng.choice(len(COUNTRIES), rows, p=COUNTRY_P)),
            "job": JOB_SERIES.gather(rng.choice(len(JOB_NAMES), rows, p=JOB_P)),
            "z": rng.standard_normal(rows),
        }
    )
    return frame.select(
        "id", email_column(), phone_column(), "country", "job", salary_column()
    ).with_columns(bonus_column())


def polars_jsonl(rows: int) -> None:
    polars_frame(rows).write_ndjson("/dev/null")


FIRST_CUMULATIVE = list(itertools.accumulate(FIRST_WEIGHTS))
LAST_CUMULATIVE = list(itertools.accumulate(LAST_WEIGHTS))
COUNTRY_CUMULATIVE = list(itertools.accumulate(COUNTRY_WEIGHTS))
JOB_CUMULATIVE = list(itertools.accumulate(JOB_WEIGHTS))
# A program makes its Faker once (loading the providers takes tens of milliseconds) and seeds it.
FAKE = Faker()


def faker_rows(rows: int) -> list[dict]:
    """One seeded Faker: its random instance's `choices` with cumulative weights worked out once
    (random_element would add up 1,000 weights again for every name), `random_int` and `numerify`
    for the phone, `gauss` for the salary."""
    fake = FAKE
    fake.seed_instance(SEED)
    choices, gauss = fake.random.choices, fake.random.gauss
    out = []
    for i in range(rows):
        first = choices(FIRST, cum_weights=FIRST_CUMULATIVE)[0]
        last = choices(LAST, cum_weights=LAST_CUMULATIVE)[0]
        job = choices(JOB_NAMES, cum_weights=JOB_CUMULATIVE)[0]
        _, mean, std_dev = JOBS[job]
        salary = round(gauss(mean, std_dev), 2)
        out.append(
            {
                "id": i,
                "email": f"{first.lower()}.{last.lower()}@example.com",
                "phone": f"+1-{fake.random_int(200, 999)}-{fake.numerify('###-####')}",
                "country": choices(COUNTRIES, cum_weights=COUNTRY_CUMULATIVE)[0],
                "job": job,
                "salary": salary,
                "bonus": round(salary * 0.1, 2),
            }
        )
    return out


def mimesis_rows(rows: int) -> list[dict]:
    """A Schema of Field calls; Mimesis has no weighted pick nor normal law, so custom handlers
    (which get its seeded random instance) give them."""
    field = Field(seed=SEED)
    field.register_handler(
        "weighted",
        lambda random, items, cumulative: random.choices(items, cum_weights=cumulative)[0],
    )
    field.register_handler("normal", lambda random, mean, std_dev: random.gauss(mean, std_dev))
    ids = itertools.count()

    def row() -> dict:
        first = field("weighted", items=FIRST, cumulative=FIRST_CUMULATIVE)
        last = field("weighted", items=LAST, cumulative=LAST_CUMULATIVE)
        job = field("weighted", items=JOB_NAMES, cumulative=JOB_CUMULATIVE)
        _, mean, std_dev = JOBS[job]
        salary = round(field("normal", mean=mean, std_dev=std_dev), 2)
        return {
            "id": next(ids),
            "email": f"{first.lower()}.{last.lower()}@example.com",
            "phone": f"+1-{field('integer_number', start=200, end=999)}-"
            f"{field('code.pin', mask='###-####')}",
            "country": field("weighted", items=COUNTRIES, cumulative=COUNTRY_CUMULATIVE),
            "job": job,
            "salary": salary,
            "bonus": round(salary * 0.1, 2),
        }

    return Schema(schema=row, iterations=rows).create()


# --- the cost of each column on one thread ----------------------------------------------------

COLUMN_STEPS = ["2 names weighted", "2 names uniform", "email", "phone", "country", "job",
                "salary", "bonus"]  # fmt: skip


def tessary_column_costs(rows: int, rounds: int) -> dict[str, float]:
    """Seconds per row of each column: the Table of the specs up to it less the Table of the specs
    before it (the id column alone before the names), in alternating rounds. The columns after
    the names are added to uniformly picked names."""
    people, uniform_names = specs(), specs(weighted_names=False)[:2]
    # Each step: the specs of its Table and the step it is measured against.
    steps = {"id": ([], None), "2 names weighted": (people[:2], "id"),
             "2 names uniform": (uniform_names, "id")}  # fmt: skip
    for k in range(2, len(people)):
        steps[people[k]["name"]] = (uniform_names + people[2 : k + 1], list(steps)[-1])
    texts = [json.dumps(step_specs) for step_specs, _ in steps.values()]
    calls = [(lambda: None, lambda _, text=text: tessary_table(rows, text)) for text in texts]
    seconds = dict(zip(steps, alternating_medians(rounds, *calls), strict=True))
    return {
        name: (seconds[name] - seconds[previous]) / rows
        for name, (_, previous) in steps.items()
        if previous is not None
    }


def polars_column_costs(rows: int, rounds: int) -> dict[str, float]:
    """Seconds per row of each column as polars_frame makes it, from its own draws and from the
    columns it reads made beforehand (untimed)."""
    rng = np.random.default_rng(SEED)
    names = pl.DataFrame(polars_names(rng, rows, weighted_names=False))
    jobs = pl.DataFrame({"job": JOB_SERIES.gather(rng.choice(len(JOB_NAMES), rows, p=JOB_P))})
    salaries = jobs.with_columns(z=rng.standard_normal(rows)).select(salary_column())
    columns = {
        "2 names weighted": lambda: pl.DataFrame(polars_names(rng, rows, weighted_names=True)),
        "2 names uniform": lambda: pl.DataFrame(polars_names(rng, rows, weighted_names=False)),
        "email": lambda: names.select(email_column()),
        "phone": lambda: pl.DataFrame(polars_phone_digits(rng, rows)).select(phone_column()),
        "country": lambda: COUNTRY_SERIES.gather(rng.choice(len(COUNTRIES), rows, p=COUNTRY_P)),
        "job": lambda: JOB_SERIES.gather(rng.choice(len(JOB_NAMES), rows, p=JOB_P)),
        "salary": lambda: jobs.with_columns(z=rng.standard_normal(rows)).select(salary_column()),
        "bonus": lambda: salaries.select(bonus_column()),
    }
    calls = [(lambda: None, lambda _, make=make: make()) for make in columns.values()]
    return {name: t / rows for name, t in
            zip(columns, alternating_medians(rounds, *calls), strict=True)}  # fmt: skip


def one_thread_column_costs(rows: int, rounds: int) -> dict[str, list[float]]:
    """[tessary, NumPy + Polars] seconds per row of each column, in a child interpreter where both
    run on one thread."""
    return child_json(__file__, "--child-column-costs", rows, rounds, RAYON_NUM_THREADS="1",
                      POLARS_MAX_THREADS="1")


# --- the check of every contender's rows -------------------------------------------------------

PHONE_RE = re.compile(PHONE_PATTERN)


def check_rows(contender: str, rows: list[dict], email_local_parts: set[str]) -> None:
    """Raises when a row is not what every contender is asked to make."""
    assert [list(row) for row in rows[:1]] == [COLUMNS], (contender, list(rows[0]))
    assert [row["id"] for row in rows] == list(range(len(rows))), contender
    salaries: dict[str, list[float]] = {job: [] for job in JOBS}
    for row in rows:
        local, _, domain = row["email"].partition("@")
        assert domain == "example.com" and local in email_local_parts, (contender, row)
        assert PHONE_RE.fullmatch(row["phone"]), (contender, row)
        assert row["country"] in COUNTRIES and row["job"] in JOBS, (contender, row)
        assert row["salary"] == round(row["salary"], 2), (contender, row)
        assert abs(row["bonus"] - row["salary"] * 0.1) <= 0.0051, (contender, row)
        salaries[row["job"]].append(row["salary"])
    for job, (_, mean, std_dev) in JOBS.items():
        values = salaries[job]
        # Five standard errors of the mean: a wrong law fails, a right one all but never.
        assert len(values) > 30, (contender, job)
        assert abs(statistics.fmean(values) - mean) < 5 * std_dev / len(values) ** 0.5, (
            contender, job, statistics.fmean(values))  # fmt: skip
        assert 0.8 < statistics.stdev(values) / std_dev < 1.2, (contender, job)


def check_contenders(rows: int) -> None:
    local_parts = {f"{first.lower()}.{last.lower()}" for first in FIRST for last in LAST}
    text = b"".join(tessary.iter_text(SEED, rows, SPECS_JSON, format="jsonl"))
    frame = polars_frame(rows)
    contenders = {
        "tessary": tessary_table(rows).to_pylist(),
        "tessary JSON Lines": [json.loads(line) for line in text.splitlines()],
        "NumPy + Polars": frame.cast({"country": str, "job": str}).to_dicts(),
        "NumPy + Polars NDJSON": [json.loads(line) for line in frame.write_ndjson().splitlines()],
        "Faker": faker_rows(rows),
        "Mimesis": mimesis_rows(rows),
    }
    for contender, made in contenders.items():
        check_rows(contender, made, local_parts)


# --- the run -----------------------------------------------------------------------------------


def main() -> None:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--rows", type=int, default=10**6)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument(
        "--peer-rows",
        type=int,
        default=2 * 10**4,
        help="rows Faker and Mimesis make per round (scaled to --rows)",
    )
    parser.add_argument("--child-column-costs", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    rows, rounds, peer_rows = args.rows, args.rounds, min(args.peer_rows, args.rows)
    if args.child_column_costs:
        tessary_table(1000)
        ours, theirs = tessary_column_costs(rows, rounds), polars_column_costs(rows, rounds)
        print(json.dumps({name: [ours[name], theirs[name]] for name in COLUMN_STEPS}))
        return

    load_before = os.getloadavg()
    import faker
    import mimesis

    print(
        f"{rows:,} rows, {os.cpu_count()} cores, {rounds} rounds; tessary {tessary.__version__}, "
        f"NumPy {np.__version__}, Polars {pl.__version__}, pyarrow {pa.__version__}, "
        f"Faker {faker.VERSION}, Mimesis {mimesis.__version__}"
    )
    check_contenders(min(rows, 5000))
    tessary_table(1000)  # the worker pool starts before the first round

    ours, theirs = alternating_medians(
        rounds,
        (lambda: None, lambda _: tessary_table(rows)),
        (lambda: None, lambda _: polars_frame(rows)),
    )
    table_seconds = ours
    report("(a) Arrow table", ours, "tessary (all cores)", theirs, "NumPy + Polars", rows)
    ours, theirs = alternating_medians(
        rounds,
        (lambda: None, lambda _: tessary_table(rows, UNIFORM_NAMES_SPECS_JSON)),
        (lambda: None, lambda _: polars_frame(rows, weighted_names=False)),
    )
    report("    the same with the names picked uniformly", ours, "tessary (all cores)", theirs,
           "NumPy + Polars", rows)  # fmt: skip

    written: list[int] = []
    ours, theirs = alternating_medians(
        rounds,
        (lambda: None, lambda _: written.append(tessary_jsonl(rows))),
        (lambda: None, lambda _: polars_jsonl(rows)),
    )
    jsonl_seconds = ours
    report("(b) JSON Lines to /dev/null", ours, "tessary (all cores)", theirs,
           "NumPy + Polars write_ndjson", rows)  # fmt: skip
    print(f"    tessary writes {written[-1] / rows:.0f} bytes a row, "
          f"{written[-1] / ours / 1e6:,.0f} MB/s")  # fmt: skip

    faker_seconds, mimesis_seconds = alternating_medians(
        max(3, rounds // 2),
        (lambda: None, lambda _: faker_rows(peer_rows)),
        (lambda: None, lambda _: mimesis_rows(peer_rows)),
    )
    print(f"(c) one row at a time, timed on {peer_rows:,} rows, scaled to {rows:,}:")
    for name, seconds in (("Faker", faker_seconds), ("Mimesis", mimesis_seconds)):
        scaled = seconds * rows / peer_rows
        print(
            f"    {name:<8} {scaled:8.2f} s  {peer_rows / seconds / 1e3:9,.1f} k rows/s   "
            f"tessary is {scaled / table_seconds:,.0f}x faster to Arrow, "
            f"{scaled / jsonl_seconds:,.0f}x to JSON Lines"
        )
    print(
        f"(d) ns per row of each column on one thread, medians of {rounds} alternating rounds "
        "(tessary: a Table less the Table without the column; the columns after the names added "
        "to names picked uniformly):"
    )
    print(f"    {'column':<18} {'tessary':>9} {'NumPy + Polars':>15} {'ratio':>7}")
    for name, (mine, theirs) in one_thread_column_costs(rows, rounds).items():
        print(f"    {name:<18} {mine * 1e9:9.1f} {theirs * 1e9:15.1f} {mine / theirs:7.2f}")
    print(
        "load average (1, 5, 15 min) "
        + " ".join(f"{x:.2f}" for x in load_before)
        + " at the start, "
        + " ".join(f"{x:.2f}" for x in os.getloadavg())
        + " at the end"
    )


def report(what: str, ours: float, our_name: str, theirs: float, their_name: str,
           rows: int) -> None:  # fmt: skip
    ratio = ours / theirs
    verdict = "met" if ratio <= 0.5 else "missed"
    print(f"{what}: ratio {ratio:.3f} (target <= 0.5: {verdict})")
    indent = " " * (len(what) - len(what.lstrip()) + 4)
    for name, seconds in ((our_name, ours), (their_name, theirs)):
        print(f"{indent}{name:<28} {seconds:8.3f} s  {rows / seconds / 1e6:9.2f} M rows/s")


if __name__ == "__main__":
    main()
