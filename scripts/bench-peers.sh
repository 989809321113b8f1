#!/usr/bin/env bash
# Measures Tessary against the Python tools its users would otherwise pick (bench/peers.py), prints
# the table and writes docs/performance.md and docs/performance.png. The peers live in their own
# virtual environment, .venv-bench, so the project's own environment stays free of them.
# Usage: scripts/bench-peers.sh [--rounds R] [--sizes N ...] [--limit SECONDS]
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"
ensure_debian_packages "${BUILD_TOOLS[@]}"
python=$(ensure_venv "$(find_python)" "$ROOT/.venv-bench")
say "installing the peers and tessary into .venv-bench"
"$python" -m pip install -q -r bench/peers-requirements.txt
"$python" -m pip install -q .
"$python" bench/peers.py "$@"
