#!/usr/bin/env bash
# Builds and runs the benchmarks: the C++ ones (Google Benchmark) and the Python-side ones
# (generate_entities, streaming output to /dev/shm, columnar output, ten attribute kinds against
# NumPy, a people table against NumPy + Polars, Faker and Mimesis, a data set's references against
# uniform_int), then the statistical check of the sampling kinds against SciPy (not part of the
# tests: it fails the script when a kind's values do not follow its law).
# Usage: scripts/bench.sh [cpp|python]   (both by default)
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"
what=${1:-all}

if [ "$what" = all ] || [ "$what" = cpp ]; then
  ensure_debian_packages "${BUILD_TOOLS[@]}" libbenchmark-dev
  cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARY_BENCH=ON >/dev/null
  cmake --build build/bench -j "$JOBS"
  for bench in build/bench/*_bench; do
    say "$bench"
    "$bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
  done
fi

if [ "$what" = all ] || [ "$what" = python ]; then
  ensure_debian_packages "${BUILD_TOOLS[@]}"
  python=$(ensure_venv "$(find_python)")
  "$python" -m pip install -q ".[bench]"
  "$python" bench/generate_bench.py
  "$python" bench/stream_bench.py
  "$python" bench/table_bench.py
  "$python" bench/gzip_bench.py
  say "columnar output"
  "$python" bench/columns_bench.py
  say "ten attribute kinds against NumPy"
  "$python" bench/kinds_bench.py
  say "a people table against NumPy + Polars, Faker and Mimesis"
  "$python" bench/people_bench.py
  say "a data set's references against uniform_int"
  "$python" bench/dataset_bench.py
  say "the sampling kinds against SciPy's distributions"
  "$python" bench/distributions_check.py
fi
