#!/usr/bin/env bash
# Soaks the double writer: checks COUNT doubles (default 10^9) from the property test's families
# against the standard library's shortest digits and strtod, in an optimised build without
# sanitizers. Usage: scripts/soak-number-text.sh [COUNT]; TESSARY_PROPERTY_SEED repeats a run.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"

count=${1:-1000000000}
cmake -S . -B build/soak -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARY_TESTS=ON >/dev/null
cmake --build build/soak -j "$JOBS" --target test_output
say "checking $count doubles"
TESSARY_SOAK_COUNT=$count build/soak/test_output --gtest_also_run_disabled_tests \
  --gtest_filter='WriteF64.DISABLED_Soak'
