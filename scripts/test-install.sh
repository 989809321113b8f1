#!/usr/bin/env bash
# The two ways users install the package. From source without the system libraries: the
# configuration must stop with one message naming every missing package and the command that
# installs them. From the wheel (make wheel): installed with pip --no-deps into a fresh venv, it
# must pass the stream vectors and tests/wheel/check_installed.py run from a folder outside the
# checkout, needing nothing from the system beyond what the manylinux policy allows.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

say "source build without the system libraries: one message naming them"
# Every library search is rooted in an empty folder, so none is found.
mkdir "$scratch/no-libraries"
if cmake -S . -B "$scratch/configure" -G Ninja -DCMAKE_FIND_ROOT_PATH="$scratch/no-libraries" \
  -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY \
  >"$scratch/configure.log" 2>&1; then
  say "the configuration succeeded without any library"; exit 1
fi
# CMake wraps the message's text, but leaves its indented command line whole.
expected="sudo apt-get install libzstd-dev libssl-dev libdeflate-dev libxxhash-dev"
if ! grep -qxF "    $expected" "$scratch/configure.log"; then
  cat "$scratch/configure.log" >&2
  say "the configuration did not say: $expected"; exit 1
fi

say "the wheel"
make -s wheel
wheel=$(echo dist/tessary-*.whl)
say "$(basename "$wheel"): $(du -k "$wheel" | cut -f1) KiB"
"$(find_python)" -m venv "$scratch/venv"
python=$scratch/venv/bin/python
timed "$python" -m pip install -q --no-deps "$ROOT/$wheel"
"$python" -m pip install -q tqdm pyarrow zstandard
mkdir "$scratch/outside"
cd "$scratch/outside"
"$python" -I -m tessary.vectors
"$python" -I "$ROOT/tests/wheel/check_installed.py"
