#!/usr/bin/env bash
# Runs each libFuzzer harness (tests/fuzz/*_fuzz.cpp) under AddressSanitizer and
# UndefinedBehaviorSanitizer for the given number of seconds, over a temporary copy of its committed
# corpus (tests/fuzz/corpus/<name>/, so the committed corpus is never changed). Fails on any crash;
# the failing input is kept in build/fuzz/artifacts/.
#
# Usage: scripts/fuzz.sh SECONDS
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"

seconds=${1:?usage: scripts/fuzz.sh SECONDS}
MAX_LEN=4096  # bytes: room for a few specs with nested values, small enough to mutate quickly

ensure_debian_packages "${BUILD_TOOLS[@]}" clang
ensure_debian_packages "$(clang_runtime_package)"

say "building the fuzz harnesses (clang, ASan + UBSan)"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTESSARY_FUZZ=ON -DTESSARY_SANITIZE=ON >/dev/null
cmake --build build/fuzz -j "$JOBS"
mkdir -p build/fuzz/artifacts

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for source in tests/fuzz/*_fuzz.cpp; do
  name=$(basename "$source" .cpp)
  corpus="tests/fuzz/corpus/${name%_fuzz}"
  dict="tests/fuzz/${name%_fuzz}.dict"
  mkdir -p "$work/$name"
  if [ -d "$corpus" ]; then cp -R "$corpus/." "$work/$name/"; fi
  options=(-max_total_time="$seconds" -max_len="$MAX_LEN" -timeout=10 -rss_limit_mb=2048
    -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$name-")
  if [ -f "$dict" ]; then options+=(-dict="$dict"); fi
  say "fuzzing $name for ${seconds}s"
  if ! "build/fuzz/$name" "${options[@]}" "$work/$name" 2>"$work/$name.log"; then
    tail -n 60 "$work/$name.log" >&2
    say "$name failed; the input is in build/fuzz/artifacts/"
    exit 1
  fi
  grep -E '^stat::(number_of_executed_runs|new_units_added)' "$work/$name.log" >&2 || true
done
say "fuzzing passed"
