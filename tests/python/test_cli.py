"""The command line: python -m tessary SPECS --scale N [--seed S] [--output FILE]."""

import json
import subprocess
import sys

from helpers import AGE_SPECS


def run_cli(*args, stdin=None):
    return subprocess.run(
        [sys.executable, "-m", "tessary", *args], capture_output=True, text=True, input=stdin, timeout=120
    )


def test_writes_the_entities_to_standard_output(tmp_path):
    specs = tmp_path / "specs.json"
    specs.write_text(AGE_SPECS)
    result = run_cli(str(specs), "--scale", "2", "--seed", "42")
    assert result.returncode == 0, result.stderr
    assert result.stdout == '[{"id":0,"age":58},{"id":1,"age":52}]\n'


def test_without_seed_prints_the_drawn_seed_so_the_run_can_be_repeated(tmp_path):
    specs = tmp_path / "specs.json"
    specs.write_text(AGE_SPECS)
    output = tmp_path / "out.json"
    first = run_cli(str(specs), "--scale", "50", "--output", str(output))
    assert first.returncode == 0, first.stderr
    assert first.stdout == ""
    seed = int(first.stderr.strip().rsplit(" ", 1)[1])
    again = run_cli(str(specs), "--scale", "50", "--seed", str(seed))
    assert again.stdout.strip() == output.read_text()
    assert len(json.loads(output.read_text())) == 50


def test_reads_specs_from_standard_input():
    result = run_cli("-", "--scale", "1", "--seed", "42", stdin=AGE_SPECS)
    assert result.stdout == '[{"id":0,"age":58}]\n'


def test_bad_spec_file_prints_the_readers_message_and_exits_2(tmp_path):
    specs = tmp_path / "bad.json"
    specs.write_text('[{"name":"a"}]')
    result = run_cli(str(specs), "--scale", "1")
    assert result.returncode == 2
    assert result.stderr.strip().endswith(f"{specs}: missing field `type` at line 1 column 13")


def test_missing_file_and_bad_arguments_exit_2(tmp_path):
    missing = run_cli(str(tmp_path / "nope.json"), "--scale", "1")
    assert missing.returncode == 2
    assert "cannot read" in missing.stderr
    negative = run_cli(str(tmp_path / "nope.json"), "--scale", "-1")
    assert negative.returncode == 2
    assert "--scale" in negative.stderr
