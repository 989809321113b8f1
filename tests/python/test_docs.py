"""The examples of the user guide, docs/specs.md, and of the other pages of docs/, run and checked
against the output they show.

The guide's ```python blocks are doctests (">>> " lines and the output they print), run in order
in one namespace. Its ```console blocks hold "$ " command lines, each followed by the output the
command prints (standard output and standard error together); "python" there is this interpreter.
A ```json block right after the comment <!-- file: NAME --> is written to NAME first, in the
directory where the commands run.
"""

from __future__ import annotations

import doctest
import os
import re
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

import pytest

from helpers import EXAMPLES

DOCS = Path(__file__).resolve().parents[2] / "docs"
GUIDE = DOCS / "specs.md"
STREAMING = DOCS / "streaming.md"
COLUMNS_GUIDE = DOCS / "columns.md"
STABILITY = DOCS / "stability.md"
DATASETS = DOCS / "datasets.md"
PAGES_WITH_COMMANDS = (GUIDE, DATASETS)

FENCED_BLOCK = re.compile(
    r"^(?:<!-- file: (?P<file>\S+) -->\n)?```(?P<lang>\w*)\n(?P<body>.*?)^```$",
    re.MULTILINE | re.DOTALL,
)


@dataclass
class Block:
    lang: str
    body: str
    line: int  # 0-based line of the body's first line in the guide
    file: str | None


def fenced_blocks(text: str) -> list[Block]:
    return [
        Block(m["lang"], m["body"], text.count("\n", 0, m.start("body")), m["file"])
        for m in FENCED_BLOCK.finditer(text)
    ]


def run_python_examples(text: str, page: Path = GUIDE) -> tuple[doctest.TestResults, str]:
    """Runs every ```python block of the text (of the page) as one doctest session; returns the
    counts and the failure report."""
    parser = doctest.DocTestParser()
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    report: list[str] = []
    namespace: dict = {"__name__": page.stem + "_md"}
    for block in fenced_blocks(text):
        if block.lang == "python":
            name = f"{page.name}:{block.line + 1}"
            test = parser.get_doctest(block.body, namespace, name, str(page), block.line)
            test.globs = namespace  # shared: later blocks use the names of earlier ones
            runner.run(test, out=report.append, clear_globs=False)
    return doctest.TestResults(runner.failures, runner.tries), "".join(report)


@dataclass
class Command:
    line: int  # 1-based line in the guide
    command: str
    expected: str


def console_commands(block: Block) -> list[Command]:
    commands: list[Command] = []
    for offset, line in enumerate(block.body.splitlines(keepends=True)):
        if line.startswith("$ "):
            commands.append(Command(block.line + offset + 1, line[2:].rstrip("\n"), ""))
        else:
            commands[-1].expected += line
    return commands


def command_environment(bin_dir: Path) -> dict[str, str]:
    """The environment of the commands: "python" on PATH runs this interpreter, whatever the
    virtual environment or sanitizer set-up it runs in."""
    bin_dir.mkdir(exist_ok=True)
    wrapper = bin_dir / "python"
    wrapper.write_text(f'#!/bin/sh\nexec "{sys.executable}" "$@"\n')
    wrapper.chmod(0o755)
    return dict(os.environ, PATH=f"{bin_dir}{os.pathsep}{os.environ.get('PATH', '')}")


def run_command(command: Command, cwd: Path, env: dict[str, str]) -> str:
    result = subprocess.run(
        ["bash", "-c", command.command],
        cwd=cwd,
        env=env,
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        text=True,
        timeout=120,
    )
    return result.stdout


@pytest.fixture(scope="module")
def guide() -> str:
    return GUIDE.read_text(encoding="utf-8")


def write_files(directory: Path, text: str) -> Path:
    """Writes the files of a page into the directory, and returns it."""
    for block in fenced_blocks(text):
        if block.file is not None:
            (directory / block.file).write_text(block.body, encoding="utf-8")
    return directory


@pytest.fixture(scope="module")
def workdirs(tmp_path_factory) -> dict[Path, Path]:
    """For each page with commands, a directory holding the page's files, where they run."""
    return {
        page: write_files(tmp_path_factory.mktemp(page.stem), page.read_text(encoding="utf-8"))
        for page in PAGES_WITH_COMMANDS
    }


@pytest.fixture(scope="module")
def workdir(workdirs) -> Path:
    return workdirs[GUIDE]


def test_every_python_example_prints_what_the_guide_shows(guide, workdir, monkeypatch):
    monkeypatch.chdir(workdir)
    results, report = run_python_examples(guide)
    assert results.failed == 0, report
    assert results.attempted >= 50  # the examples were found


def test_every_streaming_example_prints_what_the_page_shows(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    results, report = run_python_examples(STREAMING.read_text(encoding="utf-8"), STREAMING)
    assert results.failed == 0, report
    assert results.attempted >= 20


def test_every_python_example_of_the_columns_guide_prints_what_it_shows(tmp_path, monkeypatch):
    for consumer in ("pyarrow", "polars", "pandas", "duckdb"):
        pytest.importorskip(consumer)
    monkeypatch.chdir(tmp_path)  # it writes Parquet files
    results, report = run_python_examples(COLUMNS_GUIDE.read_text(encoding="utf-8"), COLUMNS_GUIDE)
    assert results.failed == 0, report
    assert results.attempted >= 20


def test_the_stability_page_prints_what_it_shows():
    results, report = run_python_examples(STABILITY.read_text(encoding="utf-8"), STABILITY)
    assert results.failed == 0, report
    assert results.attempted >= 5


def test_the_data_sets_page_prints_what_it_shows_of_the_example_it_holds(tmp_path, monkeypatch):
    pytest.importorskip("duckdb")
    text = DATASETS.read_text(encoding="utf-8")
    shown = write_files(tmp_path, text) / "shop.json"
    assert shown.read_text(encoding="utf-8") == (EXAMPLES / "shop.json").read_text(encoding="utf-8")
    monkeypatch.chdir(tmp_path)  # it writes a folder
    results, report = run_python_examples(text, DATASETS)
    assert results.failed == 0, report
    assert results.attempted >= 20


def test_a_wrong_output_in_the_guide_fails(guide, workdir, monkeypatch):
    monkeypatch.chdir(workdir)
    shown = (
        '[{"id":0,"age":58},{"id":1,"age":52},{"id":2,"age":69},'
        '{"id":3,"age":31},{"id":4,"age":64}]'
    )
    assert guide.count(shown) == 1
    baseline, _ = run_python_examples(guide)
    results, report = run_python_examples(guide.replace(shown, shown.replace("69", "68")))
    assert results.failed == baseline.failed + 1
    assert "specs.md" in report and '"age":68' in report


def console_blocks(page: Path = GUIDE) -> list[Block]:
    return [
        block
        for block in fenced_blocks(page.read_text(encoding="utf-8"))
        if block.lang == "console"
    ]


def test_the_guide_has_command_line_examples_and_files(guide):
    assert sum(len(console_commands(block)) for block in console_blocks()) >= 5
    assert [block.file for block in fenced_blocks(guide) if block.file] == [
        "people.json",
        "typo.json",
    ]


@pytest.mark.slow
@pytest.mark.parametrize(
    "page, block",
    [(page, block) for page in PAGES_WITH_COMMANDS for block in console_blocks(page)],
    ids=lambda value: value.name if isinstance(value, Path) else f"line {value.line + 1}",
)
def test_every_command_prints_what_the_page_shows(page, block, workdirs, tmp_path):
    workdir = workdirs[page]
    env = command_environment(tmp_path / "bin")
    for command in console_commands(
        block
    ):  # in order: a command may read what an earlier one wrote
        assert (command.line, run_command(command, workdir, env)) == (
            command.line,
            command.expected,
        ), command.command
