"""The stream contract: the shipped vectors belong to tessary.STREAM_VERSION and this build
generates them bit for bit (python -m tessary.vectors)."""

import hashlib
import json
import subprocess
import sys

import tessary
from tessary import vectors

# The SHA-256 of the vectors file of each stream version. Regenerating the file changes it, and then
# this test fails until STREAM_VERSION is raised and the change is in CHANGELOG.md.
VECTORS_SHA256 = {
    1: "5e4a52c47cfd192be4524ebd1f26f6f807edd3423bc38e5ac33609daebe0df5f",
    2: "d6c253d9346a3e989bc2617b96c03729ba6071900e76e046a53dd16fb30b24f6",
}


def run_vectors(*args: str) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, "-m", "tessary.vectors", *args],
        capture_output=True,
        text=True,
        timeout=300,
    )


def test_the_shipped_vectors_are_the_ones_pinned_for_this_stream_version():
    assert tessary.STREAM_VERSION == 2
    shipped = vectors.VECTORS_PATH.read_bytes()
    assert hashlib.sha256(shipped).hexdigest() == VECTORS_SHA256[tessary.STREAM_VERSION]
    assert json.loads(shipped)["stream_version"] == tessary.STREAM_VERSION
    # Installed with the package, not read from the source tree.
    assert vectors.VECTORS_PATH.is_relative_to(vectors.Path(tessary.__file__).parent)


def test_the_installed_package_generates_every_case():
    result = run_vectors()
    assert result.returncode == 0, result.stdout + result.stderr
    cases = len(vectors.load()["cases"])
    assert result.stdout == f"stream version 2: {cases} passed, 0 failed\n"


def test_a_changed_case_fails_and_is_named(tmp_path):
    data = vectors.load()
    data["cases"][2]["first"][0] = data["cases"][2]["first"][0].replace('"id":0', '"id":1')
    data["cases"][-1]["sha256"] = "0" * 64
    changed = tmp_path / "vectors.json"
    changed.write_text(json.dumps(data), encoding="utf-8")
    result = run_vectors(str(changed))
    assert result.returncode == 1
    lines = result.stdout.splitlines()
    assert lines[0].startswith(f"FAILED {data['cases'][2]['name']}: entity 0 is ")
    assert lines[1].startswith(f"FAILED {data['cases'][-1]['name']}: the text's SHA-256 is ")
    assert lines[2] == f"stream version 2: {len(data['cases']) - 2} passed, 2 failed"


def test_vectors_of_another_stream_version_fail(tmp_path):
    data = vectors.load()
    data["stream_version"] = 1
    other = tmp_path / "vectors.json"
    other.write_text(json.dumps(data), encoding="utf-8")
    result = run_vectors(str(other))
    assert result.returncode == 1
    assert "vectors of stream version 1, this is version 2" in result.stdout
