"""A statistical check of every sampling kind against SciPy's distributions.

Each case builds a one-attribute Table of 10^6 entities (4 * 10^6 for the tail checks) with a fixed
seed, reads the column through Arrow and tests it:

  - continuous kinds (uniform_float, normal, exponential, lognormal): the Kolmogorov-Smirnov test
    against the exact distribution, and for the last three a chi-square over quantile bins that
    reach 10^-6 into each tail, where a KS test has little power;
  - discrete kinds: a chi-square test over integer bins, adjacent bins merged until each expects
    at least MIN_EXPECTED values and the tail pooled into the last bin; values outside the
    support fail the case whatever the statistic. A distribution with a single value left after
    merging (p = 1, a mean of 0) is checked exactly instead;
  - decimals: the rounded values as integers on their grid, against the continuous law's mass
    between grid midpoints;
  - unique_int: exactness (all distinct, in low..high, a slice equal to the same ids of the whole
    table), the uniformity of the values' bins, and the independence of id and value bins;
  - uuid: the version and variant bits on every value, and the uniformity of the 122 other bits
    nibble by nibble (one chi-square summed over the nibbles);
  - null_rate: an exact binomial test of the null count, and the independence of the nulls of
    two attributes.

A case passes when its p-value exceeds SIGNIFICANCE. With about 130 cases the chance that at
least one fails by bad luck alone, when every kind is right, is below 130 * SIGNIFICANCE (1.3%,
Bonferroni; the run prints the exact count). The seeds are fixed (a case's seed is the CRC-32 of
its label), so the run is reproducible: a failure is a failure every time, and worth a reproducer.

Exits 1 when any case fails. Run: python bench/distributions_check.py [--only WORD]
"""

from __future__ import annotations

import argparse
import datetime
import json
import math
import sys
import time
import zlib
from collections.abc import Callable, Sequence
from dataclasses import dataclass

import numpy as np
import pyarrow as pa
import scipy
from scipy import stats

import tessary

SIGNIFICANCE = 1e-4
MIN_EXPECTED = 5.0
ROWS = 10**6
TAIL_ROWS = 4 * 10**6
NAME = "x"

Cdf = Callable[[np.ndarray], np.ndarray]  # P(X <= k) for an array of int64 k


@dataclass(frozen=True)
class Outcome:
    kind: str
    parameters: str
    test: str
    statistic: float
    p_value: float

    @property
    def passed(self) -> bool:
        return self.p_value > SIGNIFICANCE

    def line(self) -> str:
        verdict = "PASS" if self.passed else "FAIL"
        return (
            f"{self.kind:<13} {self.parameters:<52} {self.test:<18} "
            f"{self.statistic:>14.6g} {self.p_value:>10.3g}  {verdict}"
        )


def exact(kind: str, parameters: str, test: str, wrong: int) -> Outcome:
    """A check that must hold on every value: the statistic counts the values that break it, and
    the p-value is 1 when none does, else 0."""
    return Outcome(kind, parameters, test, float(wrong), 1.0 if wrong == 0 else 0.0)


def seed_of(label: str) -> int:
    return zlib.crc32(label.encode())


def arrow_column(spec: dict, rows: int, label: str, extra: Sequence[dict] = ()) -> pa.Table:
    """The Arrow table of `rows` entities of the attribute `spec` (named NAME) and `extra`."""
    specs = [{"name": NAME, **spec}, *extra]
    return pa.table(tessary.Table(seed_of(label), rows, json.dumps(specs)))


def values(spec: dict, rows: int, label: str) -> np.ndarray:
    """The column's values as NumPy (int64 for times and dates), nulls refused."""
    column = arrow_column(spec, rows, label)[NAME].combine_chunks()
    if column.null_count:
        raise AssertionError(f"{label}: {column.null_count} unexpected nulls")
    if pa.types.is_timestamp(column.type):
        column = column.cast(pa.int64())
    elif pa.types.is_date32(column.type):
        column = column.cast(pa.int32())
    return column.to_numpy(zero_copy_only=False)


def describe(spec: dict) -> str:
    return " ".join(f"{key}={value}" for key, value in spec.items() if key != "type")


# --- chi-square over merged bins ------------------------------------------------------------


def merge_bins(
    boundaries: np.ndarray, mass: np.ndarray, rows: int
) -> tuple[np.ndarray, np.ndarray]:
    """Bins i = [boundaries[i-1], boundaries[i]) with the first and last open (mass has one more
    entry than boundaries), merged left to right until each expects MIN_EXPECTED values; what is
    left at the end joins the last bin. Returns the kept boundaries and the merged masses."""
    kept: list[float] = []
    merged: list[float] = []
    accumulated = 0.0
    for i, share in enumerate(mass):
        accumulated += share
        if i < len(boundaries) and accumulated * rows >= MIN_EXPECTED:
            kept.append(boundaries[i])
            merged.append(accumulated)
            accumulated = 0.0
    if merged and accumulated * rows < MIN_EXPECTED:
        merged[-1] += accumulated
        kept.pop()
    else:
        merged.append(accumulated)
    return np.array(kept, dtype=boundaries.dtype), np.array(merged)


def chi_square(sample: np.ndarray, boundaries: np.ndarray, mass: np.ndarray) -> tuple[float, float]:
    """The chi-square statistic and p-value of `sample` over the bins that `boundaries` cut, whose
    masses under the hypothesis are `mass` (adding up to 1)."""
    kept, merged = merge_bins(boundaries, mass, len(sample))
    observed = np.bincount(np.searchsorted(kept, sample, side="right"), minlength=len(merged))
    expected = merged * (len(sample) / merged.sum())
    result = stats.chisquare(observed, expected)
    return float(result.statistic), float(result.pvalue)


def integer_quantiles(cdf: Cdf, low: int, high: int, levels: np.ndarray) -> np.ndarray:
    """The least k in low..high with cdf(k) >= q, for each q of `levels` (cdf(high) must be 1)."""
    at_low = cdf(np.full(len(levels), low, dtype=np.int64)) >= levels
    below = np.full(len(levels), low, dtype=np.int64)  # cdf(below) < q, but where at_low
    above = np.full(len(levels), high, dtype=np.int64)  # cdf(above) >= q
    above[at_low] = low
    below[at_low] = low - 1 if low > np.iinfo(np.int64).min else low

    # Comparisons and halves without overflow, even across the whole int64 range.
    def apart() -> np.ndarray:
        return (above > below) & (above - 1 > below)

    while np.any(apart()):
        middle = (below >> 1) + (above >> 1) + (below & above & 1)
        middle = np.where(apart(), middle, above)
        reached = cdf(middle) >= levels
        above = np.where(reached, middle, above)
        below = np.where(reached, below, middle)
    return above


def discrete_test(
    sample: np.ndarray, cdf: Cdf, low: int, high: int | None, upper: int | None = None
) -> tuple[str, float, float]:
    """Chi-square of an integer sample against the distribution with `cdf` on low..high (high None:
    no upper end; `upper` then bounds the quantile search, a k whose cdf is 1 in doubles).
    Values outside low..high fail; a distribution left with one bin is checked exactly."""
    last = high if high is not None else upper
    assert last is not None
    outside = int(np.count_nonzero(sample < low))
    if high is not None:
        outside += int(np.count_nonzero(sample > high))
    if outside:
        return "support", float(outside), 0.0
    levels = np.concatenate(
        [
            np.linspace(0, 1, 2001)[1:-1],
            [1e-7, 1e-6, 1e-5, 1e-4, 1e-3],
            1 - np.array([1e-3, 1e-4, 1e-5, 1e-6, 1e-7]),
        ]
    )
    quantiles = integer_quantiles(cdf, low, last, levels)
    # Each value near the bottom of the support gets a bin of its own (before merging).
    heads = np.arange(low + 1, low + 1 + min(2048, last - low), dtype=np.int64)
    boundaries = np.unique(np.concatenate([heads, quantiles + 1, quantiles]))
    boundaries = boundaries[(boundaries > low) & (boundaries <= last)]
    below = np.concatenate([[0.0], cdf(boundaries - 1), [1.0]])
    mass = np.maximum(np.diff(below), 0.0)
    kept, _ = merge_bins(boundaries, mass, len(sample))
    if len(kept) == 0:  # one bin: every value must be the one that holds (nearly) all the mass
        only = integer_quantiles(cdf, low, last, np.array([0.5]))[0]
        wrong = int(np.count_nonzero(sample != only))
        return f"all = {only}", float(wrong), 1.0 if wrong == 0 else 0.0
    statistic, p_value = chi_square(sample, boundaries, mass)
    return f"chi2 ({len(kept) + 1} bins)", statistic, p_value


def discrete_ks(sample: np.ndarray, cdf: Cdf) -> tuple[float, float]:
    """The Kolmogorov-Smirnov distance between an integer sample and `cdf`, taken at the values
    and just below them (the law's atoms would otherwise count as distance), and its p-value by
    the continuous law's distribution, which is conservative for a discrete one (Noether, 1963)."""
    distinct, counts = np.unique(sample, return_counts=True)
    after = np.cumsum(counts) / len(sample)
    before = after - counts / len(sample)
    distance = max(
        np.max(np.abs(after - cdf(distinct))), np.max(np.abs(before - cdf(distinct - 1)))
    )
    return float(distance), float(stats.kstwo.sf(distance, len(sample)))


def uniform_cdf(low: int, high: int) -> Cdf:
    count = float(high) - float(low) + 1.0
    return lambda k: np.clip((k.astype(np.float64) - float(low) + 1.0) / count, 0.0, 1.0)


# --- generalized harmonic numbers, for the Zipf law at any n up to 2^53 ----------------------

HARMONIC_TABLE_SIZE = 1 << 20


class Harmonic:
    """H(k, s) = 1^-s + ... + k^-s: a table up to 2^20, the Euler-Maclaurin formula beyond (terms
    up to the third derivative, whose error at k > 2^20 is far below a double's rounding)."""

    def __init__(self, s: float) -> None:
        self.s = s
        terms = np.arange(1, HARMONIC_TABLE_SIZE + 1, dtype=np.float64) ** -s
        self.table = np.concatenate([[0.0], np.cumsum(terms)])

    def __call__(self, k: np.ndarray) -> np.ndarray:
        k = np.asarray(k, dtype=np.int64)
        small = np.minimum(np.maximum(k, 0), HARMONIC_TABLE_SIZE)
        result = self.table[small]
        large = k > HARMONIC_TABLE_SIZE
        if np.any(large):
            s, m, x = self.s, float(HARMONIC_TABLE_SIZE), k[large].astype(np.float64)
            integral = np.log(x / m) if s == 1 else (x ** (1 - s) - m ** (1 - s)) / (1 - s)
            f = lambda y: y**-s  # noqa: E731
            d1 = lambda y: -s * y ** (-s - 1)  # noqa: E731
            d3 = lambda y: -s * (s + 1) * (s + 2) * y ** (-s - 3)  # noqa: E731
            tail = integral + (f(x) - f(m)) / 2 + (d1(x) - d1(m)) / 12 - (d3(x) - d3(m)) / 720
            result = result.copy()
            result[large] = self.table[HARMONIC_TABLE_SIZE] + tail
        return result


def zipf_cdf(n: int, s: float) -> Cdf:
    harmonic = Harmonic(s)
    total = float(harmonic(np.array([n]))[0])
    return lambda k: np.clip(harmonic(np.clip(k, 0, n)) / total, 0.0, 1.0)


# --- the cases ------------------------------------------------------------------------------


def continuous_cases() -> list[Outcome]:
    cases: list[tuple[dict, object, str]] = [
        ({"type": "uniform_float", "low": 0, "high": 1}, stats.uniform(0, 1), "low"),
        ({"type": "uniform_float", "low": -5, "high": 5}, stats.uniform(-5, 10), "low"),
        ({"type": "uniform_float", "low": 1e6, "high": 1e6 + 1}, stats.uniform(1e6, 1), "low"),
        ({"type": "normal", "mean": 0, "std_dev": 1}, stats.norm(0, 1), ""),
        ({"type": "normal", "mean": 100, "std_dev": 15}, stats.norm(100, 15), ""),
        ({"type": "normal", "mean": -1e6, "std_dev": 1e-3}, stats.norm(-1e6, 1e-3), ""),
        ({"type": "exponential", "mean": 1}, stats.expon(scale=1), "zero"),
        ({"type": "exponential", "mean": 3}, stats.expon(scale=3), "zero"),
        ({"type": "exponential", "mean": 1e-6}, stats.expon(scale=1e-6), "zero"),
        ({"type": "exponential", "mean": 1e6}, stats.expon(scale=1e6), "zero"),
        ({"type": "lognormal", "mu": 0, "sigma": 1}, stats.lognorm(1, scale=1), "zero"),
        ({"type": "lognormal", "mu": 3, "sigma": 1}, stats.lognorm(1, scale=math.exp(3)), "zero"),
        (
            {"type": "lognormal", "mu": -2, "sigma": 0.25},
            stats.lognorm(0.25, scale=math.exp(-2)),
            "zero",
        ),
        ({"type": "lognormal", "mu": 0, "sigma": 3}, stats.lognorm(3, scale=1), "zero"),
    ]
    out = []
    for spec, law, bound in cases:
        label = f"{spec['type']} {describe(spec)}"
        sample = values(spec, ROWS, label)
        if bound == "low":
            outside = np.count_nonzero((sample < spec["low"]) | (sample >= spec["high"]))
        elif bound == "zero":
            outside = np.count_nonzero(sample < 0)
        else:
            outside = np.count_nonzero(~np.isfinite(sample))
        if outside:
            out.append(exact(spec["type"], describe(spec), "support", int(outside)))
            continue
        result = stats.kstest(sample, law.cdf)
        out.append(Outcome(spec["type"], describe(spec), "KS", result.statistic, result.pvalue))
    # The tails: bins between quantiles 10^-6 .. 1 - 10^-6, over 4 * 10^6 values.
    levels = np.concatenate(
        [
            [1e-6, 1e-5, 1e-4, 1e-3],
            np.linspace(0, 1, 101)[1:-1],
            1 - np.array([1e-3, 1e-4, 1e-5, 1e-6]),
        ]
    )
    levels.sort()
    for spec, law, _ in cases:
        if spec["type"] == "uniform_float":
            continue
        label = f"{spec['type']} {describe(spec)} tails"
        sample = values(spec, TAIL_ROWS, label)
        boundaries = law.ppf(levels)
        mass = np.diff(np.concatenate([[0.0], law.cdf(boundaries), [1.0]]))
        statistic, p_value = chi_square(sample, boundaries, mass)
        out.append(
            Outcome(
                spec["type"],
                describe(spec) + f" n={TAIL_ROWS:.0e}",
                "chi2 tails",
                statistic,
                p_value,
            )
        )
    return out


def rounded_cases() -> list[Outcome]:
    """decimals: value * 10^d is an integer v, of mass F((v + 1/2) / 10^d) - F((v - 1/2) / 10^d)."""
    cases = [
        (
            {"type": "lognormal", "mu": 3, "sigma": 1, "decimals": 2},
            stats.lognorm(1, scale=math.exp(3)),
        ),
        ({"type": "exponential", "mean": 3, "decimals": 1}, stats.expon(scale=3)),
        ({"type": "normal", "mean": 0, "std_dev": 1, "decimals": 2}, stats.norm(0, 1)),
    ]
    out = []
    for spec, law in cases:
        scale = 10.0 ** spec["decimals"]
        sample = values(spec, ROWS, f"{spec['type']} {describe(spec)}")
        grid = np.rint(sample * scale)
        off_grid = int(np.count_nonzero(np.abs(sample * scale - grid) > 1e-6 * np.maximum(1, grid)))
        if off_grid:
            out.append(exact(spec["type"], describe(spec), "on the grid", off_grid))
            continue
        integers = grid.astype(np.int64)
        # The normal's grid starts where its mass below is negligible; the others' at 0.
        low = int(math.floor(law.ppf(1e-15) * scale)) - 1 if spec["type"] == "normal" else 0
        high = int(math.ceil(law.ppf(1 - 1e-15) * scale)) + 1
        cdf = lambda k, law=law, scale=scale: law.cdf((k + 0.5) / scale)  # noqa: E731
        test, statistic, p_value = discrete_test(integers, cdf, low, None, upper=high)
        out.append(Outcome(spec["type"], describe(spec), test, statistic, p_value))
    return out


def discrete_cases() -> list[Outcome]:
    out = []

    def run(spec: dict, cdf: Cdf, low: int, high: int | None, upper: int | None = None) -> None:
        label = f"{spec['type']} {describe(spec)}"
        sample = values(spec, ROWS, label).astype(np.int64)
        with np.errstate(divide="ignore", invalid="ignore"):  # SciPy's geometric cdf at p = 1
            test, statistic, p_value = discrete_test(sample, cdf, low, high, upper)
            out.append(Outcome(spec["type"], describe(spec), test, statistic, p_value))
            # A smooth drift of the whole law shows better in the largest distance of the
            # distribution functions than spread over thousands of bins.
            if spec["type"] in ("poisson", "geometric", "zipf") and test.startswith("chi2"):
                distance, p_value = discrete_ks(sample, cdf)
                out.append(
                    Outcome(spec["type"], describe(spec), "KS (discrete)", distance, p_value)
                )

    for p in (0.0, 1e-3, 0.1, 0.5, 0.9999, 1.0):
        run({"type": "bernoulli", "p": p}, lambda k, p=p: np.where(k < 1, 1 - p, 1.0), 0, 1)
    for mean in (0.0, 0.5, 4, 9.99, 10, 30, 1e6, 1e9):
        law = stats.poisson(mean)
        upper = int(mean + 60 * math.sqrt(mean) + 60)
        run({"type": "poisson", "mean": mean}, law.cdf, 0, None, upper)
    for p in (1.0, 0.5, 0.1, 1e-3, 1e-6, 1e-12):
        law = stats.geom(p)
        upper = 60 if p == 1 else int(40 / -math.log1p(-p)) + 2
        run({"type": "geometric", "p": p}, law.cdf, 1, None, upper)
    for s in (0.7, 1.0, 2.5):
        for n in (1, 10, 1000, 10**5, 10**9, 2**53):
            run({"type": "zipf", "n": n, "s": s}, zipf_cdf(n, s), 1, n)
    # Below s = 1, h(k) = k^-s falls below the rounding unit of the hat's integral from about
    # k = 2^44 on (sampling/zipf.h).
    for s in (0.3, 0.9):
        for n in (2**45, 2**53):
            run({"type": "zipf", "n": n, "s": s}, zipf_cdf(n, s), 1, n)
    for low, high in ((18, 90), (-3, 3), (5, 5), (-(2**62), 2**62), (-(2**63), 2**63 - 1)):
        run({"type": "uniform_int", "low": low, "high": high}, uniform_cdf(low, high), low, high)
    return out


def epoch_units(text: str, per_second: int) -> tuple[int, int]:
    """The instant of an RFC 3339 text as (floor, ceiling) counts of 1/per_second seconds."""
    instant = datetime.datetime.fromisoformat(text.replace("Z", "+00:00"))
    delta = instant - datetime.datetime(1970, 1, 1, tzinfo=datetime.UTC)
    micros = (delta.days * 86_400 + delta.seconds) * 10**6 + delta.microseconds
    step = 10**6 // per_second
    return micros // step, -(-micros // step)


def time_cases() -> list[Outcome]:
    out = []
    per_second = {"s": 1, "ms": 1000, "us": 10**6}
    timestamps = [
        ("2019-01-01T00:00:00Z", "2024-12-31T23:59:59.999Z", "ms"),
        ("2024-02-29T23:59:55Z", "2024-03-01T00:00:04Z", "s"),
        ("2021-06-01T12:00:00+05:30", "2021-06-01T13:00:00+05:30", "us"),
        ("2020-01-01T00:00:00.0004Z", "2020-01-01T00:00:00.0106Z", "ms"),
        ("0001-01-01T00:00:00Z", "9999-12-31T23:59:59Z", "s"),
    ]
    for start, end, unit in timestamps:
        spec = {"type": "timestamp", "start": start, "end": end, "unit": unit}
        sample = values(spec, ROWS, f"timestamp {describe(spec)}").astype(np.int64)
        low = epoch_units(start, per_second[unit])[1]  # a bound finer than the unit rounds inwards
        high = epoch_units(end, per_second[unit])[0]
        test, statistic, p_value = discrete_test(sample, uniform_cdf(low, high), low, high)
        out.append(Outcome("timestamp", describe(spec), test, statistic, p_value))
    epoch = datetime.date(1970, 1, 1)
    for start, end in (
        ("2023-01-01", "2024-12-31"),
        ("2024-02-28", "2024-03-01"),
        ("0001-01-01", "9999-12-31"),
    ):
        spec = {"type": "date", "start": start, "end": end}
        sample = values(spec, ROWS, f"date {describe(spec)}").astype(np.int64)
        low = (datetime.date.fromisoformat(start) - epoch).days
        high = (datetime.date.fromisoformat(end) - epoch).days
        test, statistic, p_value = discrete_test(sample, uniform_cdf(low, high), low, high)
        out.append(Outcome("date", describe(spec), test, statistic, p_value))
    return out


def unique_int_cases() -> list[Outcome]:
    out = []
    domains = ((0, ROWS - 1), (-7, 3 * ROWS + 5), (0, 2**40), (-(2**63), 2**63 - 1))
    for low, high in domains:
        spec = {"type": "unique_int", "low": low, "high": high}
        label = f"unique_int {describe(spec)}"
        parameters = describe(spec)
        sample = values(spec, ROWS, label).astype(np.int64)
        distinct = len(np.unique(sample))
        outside = int(np.count_nonzero((sample < low) | (sample > high)))
        out.append(exact("unique_int", parameters, "distinct, in range", ROWS - distinct + outside))
        # Any range of ids is built on its own, with the values of the whole table.
        first = ROWS // 3
        sliced = pa.table(
            tessary.Table(
                seed_of(label),
                ROWS,
                json.dumps([{"name": NAME, **spec}]),
                start=first,
                stop=first + 1000,
            )
        )
        differing = int(np.count_nonzero(sliced[NAME].to_numpy() != sample[first : first + 1000]))
        out.append(exact("unique_int", parameters, "slice = whole", differing))
        # Values drawn without replacement: the bins of the domain are hypergeometric, for which
        # the chi-square statistic is smaller than for independent draws (a conservative test).
        # With a domain of exactly the scale every bin is full: the statistic is 0.
        test, statistic, p_value = discrete_test(sample, uniform_cdf(low, high), low, high)
        out.append(Outcome("unique_int", parameters, test, statistic, p_value))
        # The order: the values of each block of ids must not lean to any part of the domain.
        id_bins = np.arange(ROWS) * 32 // ROWS
        value_bins = (
            np.floor(
                (sample.astype(np.float64) - float(low)) / (float(high) - float(low) + 1.0) * 32
            )
            .astype(np.int64)
            .clip(0, 31)
        )
        table = np.zeros((32, 32), dtype=np.int64)
        np.add.at(table, (id_bins, value_bins), 1)
        result = stats.chi2_contingency(table)
        out.append(
            Outcome("unique_int", parameters, "id x value 32x32", result.statistic, result.pvalue)
        )
    return out


def uuid_cases() -> list[Outcome]:
    spec = {"type": "uuid"}
    column = arrow_column(spec, ROWS, "uuid")[NAME].combine_chunks()
    storage = column.storage if isinstance(column, pa.ExtensionArray) else column
    data = np.frombuffer(storage.buffers()[1], dtype=np.uint8)[
        storage.offset * 16 : (storage.offset + len(storage)) * 16
    ].reshape(-1, 16)
    out = []
    wrong = int(np.count_nonzero((data[:, 6] >> 4) != 4) + np.count_nonzero((data[:, 8] >> 6) != 2))
    repeated = ROWS - len(np.unique(data.view("S16")))
    out.append(exact("uuid", "", "version 4, variant 10, distinct", wrong + repeated))
    statistic, df = 0.0, 0
    for byte in range(16):
        for high_nibble in (True, False):
            nibble = (data[:, byte] >> 4) if high_nibble else (data[:, byte] & 15)
            if byte == 6 and high_nibble:
                continue  # the version
            cells = 16
            if byte == 8 and high_nibble:
                nibble, cells = nibble & 3, 4  # two variant bits, two random ones
            counts = np.bincount(nibble, minlength=cells)
            expected = ROWS / cells
            statistic += float(((counts - expected) ** 2 / expected).sum())
            df += cells - 1
    out.append(
        Outcome(
            "uuid",
            "30 nibbles + 2 bits",
            f"chi2 (df {df})",
            statistic,
            float(stats.chi2.sf(statistic, df)),
        )
    )
    return out


def null_cases() -> list[Outcome]:
    out = []
    cases = [
        ({"type": "uniform_int", "low": 18, "high": 90}, 0.1),
        ({"type": "uuid"}, 0.5),
        ({"type": "poisson", "mean": 4}, 0.001),
        ({"type": "bernoulli", "p": 0.3}, 0.999),
        (
            {"type": "timestamp", "start": "2020-01-01T00:00:00Z", "end": "2021-01-01T00:00:00Z"},
            0.25,
        ),
        ({"type": "zipf", "n": 100, "s": 1.1}, 0.0),
        ({"type": "normal", "mean": 0, "std_dev": 1}, 1.0),
    ]
    for spec, rate in cases:
        full = {**spec, "null_rate": rate}
        label = f"null_rate {spec['type']} {rate}"
        column = arrow_column(full, ROWS, label)[NAME]
        nulls = column.null_count
        parameters = f"{spec['type']} null_rate={rate}"
        if rate in (0.0, 1.0):
            out.append(
                exact("null_rate", parameters, "exact count", abs(nulls - round(rate * ROWS)))
            )
            continue
        result = stats.binomtest(nulls, ROWS, rate)
        out.append(Outcome("null_rate", parameters, "binomial", nulls, result.pvalue))
    # The values that are not null keep their distribution.
    spec = {"type": "uniform_int", "low": 18, "high": 90, "null_rate": 0.1}
    kept = arrow_column(spec, ROWS, "null_rate uniform_int 0.1")[NAME].drop_null().to_numpy()
    test, statistic, p_value = discrete_test(kept.astype(np.int64), uniform_cdf(18, 90), 18, 90)
    out.append(
        Outcome("null_rate", "uniform_int 18..90 null_rate=0.1: the rest", test, statistic, p_value)
    )
    # Two attributes decide their nulls independently.
    other = {"name": "y", "type": "uniform_int", "low": 0, "high": 9, "null_rate": 0.5}
    both = arrow_column(
        {"type": "bernoulli", "p": 0.5, "null_rate": 0.5}, ROWS, "null_rate pair", extra=[other]
    )
    x_null = both[NAME].is_null().to_numpy(zero_copy_only=False)
    y_null = both["y"].is_null().to_numpy(zero_copy_only=False)
    table = np.array(
        [
            [np.sum(x_null & y_null), np.sum(x_null & ~y_null)],
            [np.sum(~x_null & y_null), np.sum(~x_null & ~y_null)],
        ]
    )
    result = stats.chi2_contingency(table, correction=False)
    out.append(
        Outcome(
            "null_rate",
            "two attributes at 0.5",
            "independence 2x2",
            result.statistic,
            result.pvalue,
        )
    )
    return out


GROUPS = (
    continuous_cases,
    rounded_cases,
    discrete_cases,
    time_cases,
    unique_int_cases,
    uuid_cases,
    null_cases,
)


def main() -> int:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--only", help="run only the groups whose function name holds this word")
    args = parser.parse_args()
    started = time.perf_counter()
    print(
        f"tessary {tessary.__version__}, SciPy {scipy.__version__}, NumPy {np.__version__}, "
        f"pyarrow {pa.__version__}"
    )
    print(
        f"{ROWS:,} values per case ({TAIL_ROWS:,} for tails); bins merged to >= "
        f"{MIN_EXPECTED:g} expected; PASS when p > {SIGNIFICANCE:g}"
    )
    print(f"{'kind':<13} {'parameters':<52} {'test':<18} {'statistic':>14} {'p-value':>10}")
    outcomes: list[Outcome] = []
    for group in GROUPS:
        if args.only and args.only not in group.__name__:
            continue
        for outcome in group():
            print(outcome.line(), flush=True)
            outcomes.append(outcome)
    failed = [o for o in outcomes if not o.passed]
    print(
        f"{len(outcomes)} cases at p > {SIGNIFICANCE:g}: the chance of a false failure among "
        f"them is at most {len(outcomes) * SIGNIFICANCE:.2%} (Bonferroni)"
    )
    print(
        f"{len(outcomes) - len(failed)} passed, {len(failed)} failed "
        f"in {time.perf_counter() - started:.0f} s"
    )
    for outcome in failed:
        print("FAILED:", outcome.line())
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
