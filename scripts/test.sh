#!/usr/bin/env bash
# Runs every test: the C++ unit tests under AddressSanitizer and UndefinedBehaviorSanitizer, the
# fuzz harnesses over their corpus, and the Python tests against the installed package (also once
# against a sanitizer build of the extension).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"

ensure_debian_packages "${BUILD_TOOLS[@]}" libgtest-dev

say "C++ unit tests (ASan + UBSan)"
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTESSARY_TESTS=ON -DTESSARY_SANITIZE=ON >/dev/null
cmake --build build/sanitize -j "$JOBS"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$JOBS"

if compgen -G "tests/fuzz/*_fuzz.cpp" >/dev/null; then
  "$ROOT/scripts/fuzz.sh" 60
fi

if [ -d tests/python ] && compgen -G "tests/python/test_*.py" >/dev/null && [ -d src/module ] \
    && compgen -G "src/module/*.cpp" >/dev/null; then
  "$ROOT/scripts/test-python.sh"
fi
say "all tests passed"
