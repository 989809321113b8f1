"""The records, the size rule and the presentation of bench/peers.py: the console table,
docs/performance.md and its chart. Nothing here measures; it turns measurements into text and a
picture."""

from __future__ import annotations

import datetime
import itertools
import math
import os
import platform
import statistics
from collections.abc import Callable
from dataclasses import dataclass, field
from importlib import metadata
from pathlib import Path

# The section of docs/performance.md that bench/columns_bench.py writes; a run of this report
# keeps it.
COLUMNAR_HEADING = "## Columnar output"
TOOLS_HEADING = "## The tools"

TARGET_OVER_FASTEST_PEER = 3.0
TARGET_OVER_NUMPY_ORJSON = 30.0
NUMPY_ORJSON = "NumPy + orjson"


@dataclass(frozen=True)
class Tool:
    name: str
    run: Callable[[int, int], str]  # (n, seed) -> the JSON text of n entities
    description: str                # how the tool does the job, for the report
    role: str = "peer"              # "tessary", "floor" or "peer"


@dataclass
class Measurement:
    size: int  # the N actually measured
    times: list[float] = field(default_factory=list)
    text_bytes: int = 0

    @property
    def median(self) -> float:
        return statistics.median(self.times)


# results[tool name][size] is the measurement of that tool at that size.
Results = dict[str, dict[int, Measurement]]


@dataclass
class Cell:
    measurement: Measurement
    ratio: float | None  # the tool's time over Tessary's at the same size; None for Tessary
    reduced: bool        # measured at a smaller size than the column's


def reduced_size(previous: Measurement | None, n: int, limit_seconds: float) -> int:
    """The largest size of the series n, n/2, n/5, n/10, n/20, ... that the previous measurement
    says fits in the time limit (n itself when it fits or nothing is known yet)."""
    if previous is None:
        return n
    per_entity = previous.median / previous.size
    size = n
    for step in itertools.cycle((2, 2.5, 2)):
        if per_entity * size <= limit_seconds or size <= 1:
            return size
        size = max(1, int(size / step))
    raise AssertionError("unreachable")


def format_seconds(seconds: float) -> str:
    if seconds < 1e-3:
        return f"{seconds * 1e6:.0f} µs"
    if seconds < 1.0:
        return f"{seconds * 1e3:.3g} ms"
    return f"{seconds:.3g} s"


def format_size(size: int) -> str:
    exponent = math.floor(math.log10(size))
    mantissa = size / 10**exponent
    return f"10^{exponent}" if mantissa == 1 else f"{mantissa:g}×10^{exponent}"


def table_cells(tools: list[Tool], results: Results, sizes: list[int]) -> dict[str, list[Cell]]:
    """One cell per tool and column: the measurement at the column's size or, for a peer measured
    at a smaller size there, the largest size it was measured at up to the column's."""
    tessary = next(tool for tool in tools if tool.role == "tessary")
    cells: dict[str, list[Cell]] = {}
    for tool in tools:
        row = []
        for n in sizes:
            measurement = max(
                (m for m in results[tool.name].values() if m.size <= n), key=lambda m: m.size
            )
            ratio = None
            if tool is not tessary:
                ratio = measurement.median / results[tessary.name][measurement.size].median
            row.append(Cell(measurement, ratio, measurement.size != n))
        cells[tool.name] = row
    return cells


def cell_text(cell: Cell) -> str:
    text = format_seconds(cell.measurement.median)
    if cell.ratio is not None:
        text += f" ({cell.ratio:.3g}×)" if cell.ratio >= 1 else f" ({cell.ratio:.2g}×)"
    if cell.reduced:
        text += f" at N = {format_size(cell.measurement.size)} †"
    return text


def console_table(cells: dict[str, list[Cell]], sizes: list[int]) -> str:
    name_width = max(len(name) for name in cells) + 2
    column_width = max(20, *(len(cell_text(cell)) + 2 for row in cells.values() for cell in row))
    lines = [
        "".ljust(name_width) + "".join(f"N = {format_size(n)}".ljust(column_width) for n in sizes)
    ]
    for name, row in cells.items():
        lines.append(
            name.ljust(name_width) + "".join(cell_text(cell).ljust(column_width) for cell in row)
        )
    lines.append("(median time; in brackets the tool's time over Tessary's at the same N)")
    return "\n".join(lines)


def markdown_table(cells: dict[str, list[Cell]], sizes: list[int]) -> str:
    lines = [
        "| Tool | " + " | ".join(f"N = {format_size(n)}" for n in sizes) + " | bytes per entity |",
        "|---|" + "---:|" * (len(sizes) + 1),
    ]
    for name, row in cells.items():
        largest = row[-1].measurement
        lines.append(
            f"| {name} | "
            + " | ".join(cell_text(cell) for cell in row)
            + f" | {largest.text_bytes / largest.size:.1f} |"
        )
    return "\n".join(lines)


@dataclass
class TargetCheck:
    fastest_peer: str
    over_fastest: float  # the fastest peer's time over Tessary's at the largest N
    over_numpy: float  # NumPy + orjson's time over Tessary's at the largest N
    floor_share: float  # the floor's time over Tessary's at the largest N

    def describe(self) -> str:
        return " ".join(
            self.verdict(what, ratio, target)
            for what, ratio, target in (
                (
                    f"the fastest peer ({self.fastest_peer})",
                    self.over_fastest,
                    TARGET_OVER_FASTEST_PEER,
                ),
                (NUMPY_ORJSON, self.over_numpy, TARGET_OVER_NUMPY_ORJSON),
            )
        )

    def verdict(self, what: str, ratio: float, target: float) -> str:
        text = (
            f"At the largest N, Tessary is {ratio:.2f}× as fast as {what}: "
            f"the target of {target:g}× is "
        )
        if ratio >= target:
            return text + "met."
        text += f"missed by a factor of {target / ratio:.2f}."
        # No tool can beat the floor, so the peer's time over the floor's bounds any lead over it.
        reachable = ratio / self.floor_share
        if reachable < target:
            return text + (
                f" Even the floor is only {reachable:.1f}× as fast as {what} on this machine, "
                f"so no tool that returns the text as a str could reach {target:g}× here."
            )
        return text + f" Tessary takes {1 / self.floor_share:.1f}× the floor's time."


def check_targets(tools: list[Tool], cells: dict[str, list[Cell]]) -> TargetCheck:
    # A peer measured at a smaller size would need over the time limit at the full size, so it is
    # never the fastest one.
    ratios = {
        tool.name: cells[tool.name][-1].ratio
        for tool in tools
        if tool.role == "peer" and not cells[tool.name][-1].reduced
    }
    fastest = min(ratios, key=ratios.__getitem__)
    floor = next(tool for tool in tools if tool.role == "floor")
    return TargetCheck(
        fastest, ratios[fastest], cells[NUMPY_ORJSON][-1].ratio, cells[floor.name][-1].ratio
    )


def cpu_model() -> str:
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as info:
            for line in info:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def package_version(name: str) -> str:
    try:
        return metadata.version(name)
    except metadata.PackageNotFoundError:
        return "(not installed as a distribution)"


def machine_description(load: tuple[float, float]) -> list[str]:
    packages = ("tessary", "numpy", "orjson", "polars", "mimesis", "faker", "matplotlib")
    threads = os.environ.get("RAYON_NUM_THREADS") or f"{os.cpu_count()} (one per core)"
    return [
        f"- Date (end of the run): {datetime.datetime.now().astimezone():%Y-%m-%d %H:%M %Z}",
        f"- CPU: {cpu_model()}, {os.cpu_count()} cores online",
        f"- System: {platform.platform()}",
        f"- Python: {platform.python_implementation()} {platform.python_version()}",
        "- Libraries: " + ", ".join(f"{name} {package_version(name)}" for name in packages),
        f"- Tessary worker threads: {threads}",
        "- Load average over one minute, at the start and at the end of the run: "
        f"{load[0]:.2f}, {load[1]:.2f} "
        "(above 0, other work shared the machine; every tool met the same load, alternating)",
    ]


def draw_chart(tools: list[Tool], results: Results, path: Path) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    styles = {
        "tessary": {"linewidth": 3, "color": "black"},
        "floor": {"linestyle": "--", "color": "grey"},
    }
    figure, axes = plt.subplots(figsize=(9, 5), dpi=120)
    for tool in tools:
        points = sorted(results[tool.name].values(), key=lambda m: m.size)
        axes.plot(
            [m.size for m in points],
            [m.median for m in points],
            marker="o",
            label=tool.name,
            **styles.get(tool.role, {}),
        )
    axes.set_xscale("log")
    axes.set_yscale("log")
    axes.set_xlabel("entities (N)")
    axes.set_ylabel("seconds, median (lower is better)")
    axes.set_title("N entities with six members as one JSON text")
    axes.grid(True, which="both", alpha=0.3)
    axes.legend(loc="center left", bbox_to_anchor=(1.02, 0.5))
    figure.tight_layout()
    figure.savefig(path)
    plt.close(figure)


def section(text: str, heading: str) -> str:
    """The section of a Markdown text that begins with the line `heading`, up to the next heading
    of the same level; empty when there is none."""
    start = text.find(f"\n{heading}\n")
    if start < 0:
        return ""
    end = text.find("\n## ", start + 1)
    return text[start + 1 : end + 1 if end >= 0 else len(text)]


def with_section(text: str, heading: str, body: str) -> str:
    """The text with its section `heading` replaced by `body` (which begins with that heading), or
    with `body` inserted before the tools section when it has none."""
    old = section(text, heading)
    if old:
        return text.replace(old, body, 1)
    return text.replace(f"\n{TOOLS_HEADING}\n", f"\n{body}{TOOLS_HEADING}\n", 1)


def write_report(
    path: Path,
    chart: Path,
    tools: list[Tool],
    cells: dict[str, list[Cell]],
    sizes: list[int],
    rounds: dict[int, int],
    limit_seconds: float,
    load: tuple[float, float],
) -> None:
    table = markdown_table(cells, sizes)
    rounds_text = ", ".join(f"{rounds[n]} at N = {n:,}" for n in sizes)
    reduced_note = (
        f"† This tool would need over {limit_seconds:.0f} s at the column's N "
        "(judged from its time at "
        "the previous N), so it was measured at the smaller N shown; its ratio is against Tessary "
        "measured at that same N.\n\n"
        if "†" in table
        else ""
    )
    tool_list = "\n".join(f"- **{tool.name}**: {tool.description}." for tool in tools)
    text = f"""# Performance against the tools users would pick instead

The job: N entities, each with an `id` and the five attributes of the seed-7 example (an integer
uniform in 18..80, a double uniform in 0..1, a normal double with mean 100 and standard deviation
15, a choice among 10, 20 and 30, and the same choice weighted 1:2:3), returned as one JSON text of
an array of objects.

All figures come from one run of one command, `make bench-peers`. Within each round every tool
runs once, each round starting with a different tool so that all of them share the machine's
noise; each figure is the median of its rounds ({rounds_text}). In brackets: the tool's time over
Tessary's at the same N, so 10× means Tessary took a tenth of the time. Before its figures count,
every tool's text is parsed and checked: N objects with ids 0 to N − 1 in order, the same six keys,
values of the right kinds and ranges, and means and shares close to those of the distributions.

{table}

{reduced_note}{check_targets(tools, cells).describe()}

![Median time per tool against N, both axes logarithmic]({chart.name})

## The tools

{tool_list}

The code of every tool is one short function in `bench/peers.py`. The peers run on one thread,
except Polars, which has its own thread pool; Tessary runs on its worker pool, one thread per core
unless `RAYON_NUM_THREADS` says otherwise. The floor is no tool: it is the least work any tool
must do at the end, making a Python `str` of the text's length from bytes already in memory.
The texts differ a little in length: Faker's `pyfloat` writes fewer digits and Mimesis rounds its
doubles to 15 digits, while the other tools write every double in its shortest round-trip form.

## Machine

{chr(10).join(machine_description(load))}
"""
    columnar = section(path.read_text(encoding="utf-8"), COLUMNAR_HEADING) if path.exists() else ""
    if columnar:
        text = with_section(text, COLUMNAR_HEADING, columnar)
    path.write_text(text, encoding="utf-8")
