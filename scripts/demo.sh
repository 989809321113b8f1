#!/usr/bin/env bash
# Builds the package into .venv and generates a few entities from the example spec file.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"
ensure_debian_packages "${BUILD_TOOLS[@]}"
python=$(ensure_venv "$(find_python)")
say "building and installing tessary"
"$python" -m pip install -q .
"$python" -m tessary examples/people.json --scale 5 --seed 42
