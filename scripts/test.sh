#!/usr/bin/env bash
# Runs every test: the C++ unit tests under AddressSanitizer and UndefinedBehaviorSanitizer, the
# fuzz harnesses over their corpus, and the Python tests against the installed package (also once
# against a sanitizer build of the extension).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"

ensure_debian_packages "${BUILD_TOOLS[@]}" libgtest-dev

# Every suite is expected: a missing one fails the run rather than passing unnoticed.
require_files() {
  local pattern
  for pattern in "$@"; do
    compgen -G "$pattern" >/dev/null || { say "missing test suite: nothing matches $pattern"; exit 1; }
  done
}

require_files "tests/cpp/*/*_test.cpp" "tests/fuzz/*_fuzz.cpp" "tests/python/test_*.py" \
  "src/module/*.cpp"

say "C++ unit tests (ASan + UBSan)"
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTESSARY_TESTS=ON -DTESSARY_SANITIZE=ON >/dev/null
cmake --build build/sanitize -j "$JOBS"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$JOBS"

"$ROOT/scripts/fuzz.sh" 60

"$ROOT/scripts/test-python.sh"
say "all tests passed"
