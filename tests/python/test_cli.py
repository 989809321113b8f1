"""The command line: python -m tessary SPECS --scale N [...], and its check and verify commands."""

import fcntl
import gzip
import json
import os
import pty
import signal
import struct
import subprocess
import sys
import termios
import time

import pytest

import tessary
from helpers import AGE_SPECS
from tessary import _engine

HUGE = str(10**15)  # a run that would never end if it generated before checking its output

needs_check_specs = pytest.mark.skipif(
    not hasattr(tessary, "check_specs"), reason="tessary.check_specs is not in this build"
)


def run_cli(*args, stdin=None, env_extra=None, text=True, **options):
    options.setdefault("stdout", subprocess.PIPE)
    options.setdefault("stderr", subprocess.PIPE)
    env = dict(os.environ, **(env_extra or {}))
    return subprocess.run(
        [sys.executable, "-m", "tessary", *args],
        text=text,
        input=stdin,
        env=env,
        timeout=120,
        **options,
    )


def start_cli(*args, **options):
    return subprocess.Popen([sys.executable, "-m", "tessary", *args], **options)


@pytest.fixture
def age_specs(tmp_path):
    specs = tmp_path / "specs.json"
    specs.write_text(AGE_SPECS)
    return specs


def test_writes_the_entities_to_standard_output(age_specs):
    result = run_cli(str(age_specs), "--scale", "2", "--seed", "42")
    assert result.returncode == 0, result.stderr
    assert result.stdout == '[{"id":0,"age":58},{"id":1,"age":52}]\n'
    # A pipe reached through a device name is written in place, as a file: just the array.
    device = run_cli(str(age_specs), "--scale", "2", "--seed", "42", "-o", "/dev/stdout")
    assert (device.returncode, device.stdout, device.stderr) == (0, result.stdout.rstrip("\n"), "")


def test_without_seed_prints_the_drawn_seed_so_the_run_can_be_repeated(age_specs, tmp_path):
    output = tmp_path / "out.json"
    first = run_cli(str(age_specs), "--scale", "50", "--output", str(output))
    assert first.returncode == 0, first.stderr
    assert first.stdout == ""
    seed = int(first.stderr.strip().rsplit(" ", 1)[1])
    again = run_cli(str(age_specs), "--scale", "50", "--seed", str(seed))
    assert again.stdout == output.read_text() + "\n"  # the file holds just the array
    assert len(json.loads(output.read_text())) == 50


def test_a_file_holds_the_array_or_the_lines_its_name_says(tmp_path, age_specs):
    whole_array = tessary.generate_entities(42, 10, AGE_SPECS).encode()
    range_lines = b"".join(tessary.iter_text(42, 10, AGE_SPECS, format="jsonl", start=2, stop=5))
    gz_options = ["--start", "2", "--stop", "5", "--digest", "xxh128"]
    for name, options, expected in [("out.json", [], whole_array),
                                    ("out.jsonl.gz", gz_options, range_lines)]:
        output = tmp_path / name
        result = run_cli(
            str(age_specs), "--scale", "10", "--seed", "42", "-o", str(output), *options
        )
        data = output.read_bytes()
        # Asked for, the digest of the file's bytes, as xxh128sum prints it, on standard error.
        digest = _engine.Hasher("xxh128")
        digest.update(data)
        shown = f"tessary: xxh128 {digest.hexdigest()}  {output}\n" if "--digest" in options else ""
        assert (result.returncode, result.stdout, result.stderr) == (0, "", shown)
        assert (gzip.decompress(data) if name.endswith(".gz") else data) == expected


@pytest.mark.parametrize(
    "name, shown", [(b"caf\xc3\xa9", b',"caf\xc3\xa9":'), (b"caf\xe9", b"can't decode byte 0xe9")],
    ids=["utf-8", "not utf-8"],
)
def test_standard_input_is_read_as_strict_utf8_like_a_file(tmp_path, name, shown):
    specs = b'[{"name":"' + name + b'","type":"uniform_int","low":1,"high":9}]'
    path = tmp_path / "specs.json"
    path.write_bytes(specs)
    latin = {"PYTHONIOENCODING": "latin-1", "LC_ALL": "C"}
    from_file = run_cli(str(path), "--scale", "2", "--seed", "42", env_extra=latin, text=False)
    from_stdin = run_cli(
        "-", "--scale", "2", "--seed", "42", stdin=specs, env_extra=latin, text=False
    )
    assert (from_stdin.returncode, from_stdin.stdout) == (from_file.returncode, from_file.stdout)
    assert from_stdin.stderr == from_file.stderr.replace(bytes(path), b"standard input")
    assert shown in from_file.stdout + from_file.stderr


def test_bad_spec_file_prints_the_readers_message_and_exits_2(tmp_path):
    specs = tmp_path / "bad.json"
    specs.write_text('[{"name":"a"}]')
    result = run_cli(str(specs), "--scale", "1")
    assert result.returncode == 2
    assert result.stderr.strip().endswith(f"{specs}: missing field `type` at line 1 column 13")


def test_parameter_failure_prints_one_line_exits_2_and_leaves_no_file(tmp_path):
    specs = tmp_path / "empty-range.json"
    specs.write_text('[{"name":"a","type":"uniform_int","low":5,"high":1}]')
    output = tmp_path / "out.jsonl"
    result = run_cli(str(specs), "--scale", HUGE, "--seed", "1", "-o", str(output))
    assert (result.returncode, result.stderr) == (
        2,
        f"tessary: {specs}: cannot sample empty range\n",
    )
    assert sorted(os.listdir(tmp_path)) == ["empty-range.json"]


def test_missing_file_and_bad_arguments_exit_2(tmp_path, age_specs):
    missing = run_cli(str(tmp_path / "nope.json"), "--scale", "1")
    assert missing.returncode == 2
    assert (
        missing.stderr
        == f"tessary: cannot read {tmp_path / 'nope.json'}: No such file or directory\n"
    )
    for arguments in (["--scale", "-1"], ["--scale", "10", "--start", "4", "--stop", "3"],
                      ["--scale", "10", "--compression", "gzip", "--level", "13"],
                      ["--scale", "10", "--digest", "md5"]):
        result = run_cli(str(age_specs), *arguments)
        assert result.returncode == 2, arguments
        assert result.stderr.startswith("usage: tessary"), arguments


def close_stdout():
    os.close(1)


@pytest.mark.parametrize(
    "target, reason",
    [
        ("folder", "Is a directory"),
        ("missing folder", "No such file or directory"),
        ("/dev/full", "No space left on device"),
        ("closed standard output", "Bad file descriptor"),
    ],
)
def test_every_output_error_prints_one_line_and_exits_1(tmp_path, age_specs, target, reason):
    options = {}
    arguments = [str(age_specs), "--scale", HUGE, "--seed", "1"]
    if target == "folder":
        (tmp_path / "out.json").mkdir()
        arguments += ["-o", str(tmp_path / "out.json")]
    elif target == "missing folder":
        arguments += ["-o", str(tmp_path / "missing" / "out.json")]
    elif target == "/dev/full":
        options["stdout"] = os.open("/dev/full", os.O_WRONLY)
    else:
        options["preexec_fn"] = close_stdout
    before = sorted(os.listdir(tmp_path))
    try:
        result = run_cli(*arguments, **options)
    finally:
        if "stdout" in options:
            os.close(options["stdout"])
    name = arguments[-1] if "-o" in arguments else "standard output"
    assert (result.returncode, result.stderr) == (1, f"tessary: cannot write {name}: {reason}\n")
    assert sorted(os.listdir(tmp_path)) == before


@pytest.mark.slow
def test_a_reader_that_stops_early_ends_the_command_quietly(age_specs):
    process = start_cli(str(age_specs), "--scale", str(10**9), "--seed", "1", "--format", "jsonl",
                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    assert process.stdout.read(1000).startswith(b'{"id":0,"age":')
    process.stdout.close()
    assert process.wait(timeout=60) == 0
    assert process.stderr.read() == b""


@pytest.mark.slow
def test_ctrl_c_exits_130_and_leaves_no_file(tmp_path, age_specs):
    folder = tmp_path / "out"
    folder.mkdir()
    process = start_cli(
        str(age_specs),
        "--scale",
        str(10**9),
        "--seed",
        "1",
        "-o",
        str(folder / "big.jsonl"),
        stderr=subprocess.PIPE,
    )
    deadline = time.monotonic() + 60
    while not os.listdir(folder) and time.monotonic() < deadline:  # the write has begun
        time.sleep(0.01)
    process.send_signal(signal.SIGINT)
    _, stderr = process.communicate(timeout=60)
    assert (process.returncode, stderr) == (130, b"")
    assert os.listdir(folder) == []


def run_on_terminal(arguments, stdout_on_terminal):
    """Runs the command with standard error on a new pseudo-terminal, and standard output there too
    or discarded; returns what the terminal received."""
    main, secondary = pty.openpty()
    fcntl.ioctl(secondary, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))  # 80 columns
    process = start_cli(*arguments, stdin=subprocess.DEVNULL, stderr=secondary,
                        stdout=secondary if stdout_on_terminal else subprocess.DEVNULL)
    os.close(secondary)
    received = b""
    while True:
        try:
            chunk = os.read(main, 65536)
        except OSError:  # EIO: the command ended and nothing else holds the terminal
            break
        if not chunk:
            break
        received += chunk
    os.close(main)
    assert process.wait(timeout=60) == 0
    return received


@pytest.mark.parametrize(
    "extra, stdout_on_terminal, bar",
    [
        ([], False, True),  # entities into a pipe, the bar on the terminal
        ([], True, False),  # entities on the terminal: no bar between them
        (["-o", "FILE"], True, True),  # standard output is the terminal but gets no entities
        (["--no-progress"], False, False),
    ],
)
def test_the_progress_bar_is_shown_on_a_terminal_that_does_not_show_the_entities(
    tmp_path, age_specs, extra, stdout_on_terminal, bar
):
    extra = [str(tmp_path / "out.json") if item == "FILE" else item for item in extra]
    received = run_on_terminal(
        [str(age_specs), "--scale", "10", "--seed", "1", *extra], stdout_on_terminal
    )
    assert (b" entities" in received) == bar, received


SPEC_CASES = [
    ('[{"name":"age","type":"uniform_int","low":18,"high":80}]', 0, None),
    ('[{"name":"id","type":"uniform_int","low":1,"high":2}]', 1, "warning"),
    ('[{"name":"c","type":"choice","values":[1],"weights":[1,1]},\n{"name":"id","type":"uniform_int","low":1,"high":2}]',
     3, "may fail"),
    ('[{"name":"id","type":"uniform_int","low":1,"high":2},\n{"name":"a","type":"uniform_int","low":5,"high":1}]',
     2, "error"),
    # A data set document: the problems of every table, each named.
    ('{"tables":[{"name":"a","scale":3,"attributes":[{"name":"id","type":"uniform_int","low":1,"high":2}]}]}',
     1, "warning: table `a`"),
    ('{"tables":[{"name":"a","scale":3,"attributes":[{"name":"id","type":"uniform_int","low":1,"high":2}]},\n'
     '{"name":"b","scale":3,"attributes":[{"name":"x","type":"uniform_int","low":5,"high":1}]}]}',
     2, "error: table `b`"),
]


@needs_check_specs
@pytest.mark.parametrize("specs_json, status, worst", SPEC_CASES)
def test_check_prints_one_line_per_problem_and_exits_with_the_worst(
    tmp_path, specs_json, status, worst
):
    specs = tmp_path / "specs.json"
    specs.write_text(specs_json)
    result = run_cli("check", str(specs))
    assert result.returncode == status, result.stderr
    lines = result.stdout.splitlines()
    assert len(lines) == len(tessary.check_specs(specs_json))
    assert all(line.startswith(f"{specs}:") for line in lines)
    if worst is not None:
        assert any(f": {worst}: " in line for line in lines)


def test_a_spec_file_named_like_a_command_is_given_as_a_path(tmp_path):
    (tmp_path / "check").write_text(AGE_SPECS)
    result = run_cli("./check", "--scale", "1", "--seed", "42", cwd=tmp_path)
    assert (result.returncode, result.stdout) == (0, '[{"id":0,"age":58}]\n')


@needs_check_specs
def test_a_write_of_more_than_a_million_entities_warns_first_and_goes_on(tmp_path):
    specs = tmp_path / "specs.json"
    specs.write_text('[{"name":"id","type":"uniform_int","low":1,"high":2}]')
    arguments = [str(specs), "--seed", "1", "-o", os.devnull, "--scale"]
    quiet = run_cli(*arguments, str(10**6))
    long = run_cli(*arguments, str(10**6 + 1))
    assert (quiet.returncode, quiet.stderr) == (0, "")
    assert long.returncode == 0
    assert long.stderr.startswith(f"{specs}:1:") and ": warning: " in long.stderr


def test_partitioned_output_and_verify(tmp_path, age_specs):
    pytest.importorskip("tessary.dask")
    folder = tmp_path / "data"
    written = run_cli(
        str(age_specs), "--scale", "1000", "--seed", "42", "-o", f"{folder}/", "--partitions", "3",
        "--digest", "xxh128",
    )
    assert written.returncode == 0, written.stderr
    assert json.loads((folder / "_manifest.json").read_text())["digest"] == "xxh128"
    parts = sorted(folder.glob("part-*"))
    assert len(parts) == 3
    whole = b"".join(tessary.iter_text(42, 1000, AGE_SPECS, format="jsonl"))
    assert b"".join(part.read_bytes() for part in parts) == whole
    sound = run_cli("verify", str(folder))
    assert (sound.returncode, sound.stdout) == (0, "")
    damaged = bytearray(parts[1].read_bytes())
    damaged[10] ^= 1
    parts[1].write_bytes(bytes(damaged))
    result = run_cli("verify", str(folder), "--regenerate", "1")
    assert result.returncode == 1
    lines = result.stdout.splitlines()
    assert lines and all(line.startswith(parts[1].name) for line in lines)


@pytest.mark.parametrize(
    "arguments",
    [
        ["SPECS", "--scale", "10", "-o", ""],
        ["SPECS", "--scale", "10", "-o", "s3://bucket/people/"],
        ["verify", "s3://bucket/people/"],
        ["SPECS", "--scale", "10", "-o", "DIR/", "--format", "parquet", "--compression", "gzip"],
        ["SPECS", "--scale", "5", "-o", "DIR/", "--partitions", "6"],
        ["SPECS", "--scale", str(10**9), "-o", "DIR/", "--partitions", str(10**7)],
    ],
)
def test_bad_arguments_of_partitioned_output_exit_2_with_one_line(tmp_path, age_specs, arguments):
    pytest.importorskip("tessary.dask")
    if any(argument.startswith("s3://") for argument in arguments):
        try:
            import s3fs  # noqa: F401
        except ImportError:
            pass
        else:
            pytest.skip("s3fs is installed: the URL has a filesystem")
    arguments = [
        str(age_specs) if a == "SPECS" else a.replace("DIR", str(tmp_path / "set"))
        for a in arguments
    ]
    result = run_cli(*arguments)
    assert result.returncode == 2, result.stderr
    assert "Traceback" not in result.stderr
    assert result.stderr.splitlines()[-1].startswith("tessary"), result.stderr
    assert os.listdir(tmp_path) == [age_specs.name]


# A data set of two tables, the second referring to the first.
DATASET = json.dumps({"tables": [
    {"name": "people", "scale": 30, "attributes": [
        {"name": "key", "type": "unique_int", "low": 1, "high": 1000}]},
    {"name": "visits", "scale": 50, "attributes": [
        {"name": "person", "type": "reference", "table": "people", "attribute": "key"},
        {"name": "length", "type": "poisson", "mean": 3}]},
]})


def test_dataset_writes_a_folder_of_tables_and_refuses_to_replace_it_unasked(tmp_path):
    document = tmp_path / "shop.json"
    document.write_text(DATASET)
    folder = tmp_path / "out"
    arguments = ["dataset", str(document), "--seed", "42", "-o", str(folder), "--format", "jsonl"]
    result = run_cli(*arguments)
    assert (result.returncode, result.stdout) == (0, ""), result.stderr
    assert result.stderr.splitlines() == [
        f"tessary: people: 30 entities, {folder / 'people.jsonl'}",
        f"tessary: visits: 50 entities, {folder / 'visits.jsonl'}",
    ]
    dataset = tessary.Dataset(42, DATASET)
    for name in dataset:
        assert (folder / f"{name}.jsonl").read_text() == dataset[name].text("jsonl")
    description = json.loads((folder / "_dataset.json").read_text())
    assert (description["seed"], description["format"]) == (42, "jsonl")
    again = run_cli(*arguments[:-2])  # Parquet this time
    assert (again.returncode, again.stderr) == (
        1, f"tessary: cannot write {folder}: the folder exists (--overwrite replaces it)\n"
    )
    assert sorted(os.listdir(folder)) == ["_dataset.json", "people.jsonl", "visits.jsonl"]
    replaced = run_cli(*arguments[:-2], "--overwrite")
    assert replaced.returncode == 0, replaced.stderr
    assert sorted(os.listdir(folder)) == ["_dataset.json", "people.parquet", "visits.parquet"]


@pytest.mark.parametrize(
    "document, arguments, status, line",
    [
        (DATASET.replace('"table": "people"', '"table": "persons"'), [], 2,
         "tessary: <doc>: table `visits`: attribute `person`: `table`: no table of the data set is "
         "named `persons` at line 1 column 222"),
        (DATASET.replace('"mean": 3', '"mean": -3'), [], 2, "tessary: <doc>: "),
        (DATASET, ["-o", "<out>/missing/set"], 1,
         "tessary: cannot write <out>/missing/set: No such file or directory"),
        (DATASET, ["--compression", "zstd"], 2, "usage: tessary dataset"),  # Parquet's own
        (DATASET, ["-o", ""], 2, "usage: tessary dataset"),
        (DATASET, ["--table-command"], 2,  # the table command is given a data set document
         "tessary: <doc>: a data set document: write its tables with 'tessary dataset DOCUMENT -o "
         "FOLDER'"),
    ],
    ids=["unknown table", "bad parameter", "missing folder", "Parquet compressed", "empty output",
         "table command"],
)
def test_a_bad_data_set_or_output_prints_one_line_and_leaves_nothing(
    tmp_path, document, arguments, status, line
):
    path = tmp_path / "doc.json"
    path.write_text(document)
    if arguments == ["--table-command"]:
        command = [str(path), "--scale", "3"]
    else:
        output = ["-o", str(tmp_path / "set")] if "-o" not in arguments else []
        command = ["dataset", str(path), "--seed", "1", *output,
                   *(a.replace("<out>", str(tmp_path)) for a in arguments)]
    result = run_cli(*command)
    assert result.returncode == status, result.stderr
    expected = line.replace("<doc>", str(path)).replace("<out>", str(tmp_path))
    assert result.stderr.startswith(expected), result.stderr
    if not line.startswith("usage"):
        assert len(result.stderr.splitlines()) == 1, result.stderr
    assert os.listdir(tmp_path) == ["doc.json"]
