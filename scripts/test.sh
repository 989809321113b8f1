#!/usr/bin/env bash
# Runs every test: the C++ unit tests under AddressSanitizer and UndefinedBehaviorSanitizer, then
# built with -march=native and with clang (both must pass the stream vectors bit for bit), the
# stream vectors program cross-built for aarch64 and run under qemu-user, the fuzz harnesses over
# their corpus, the Python tests against the installed package (also once against a sanitizer
# build of the extension), and the two ways users install: a source build missing the system
# libraries, and the wheel.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"

ensure_debian_packages "${BUILD_TOOLS[@]}" libgtest-dev clang
VECTORS=python/tessary/data/stream_vectors.json

# Builds the C++ tests in an optimised build dir with the given C and C++ compilers and flags, and
# runs them.
build_and_run_tests() {
  local dir=$1 c_compiler=$2 cxx_compiler=$3 flags=$4
  CC=$c_compiler CXX=$cxx_compiler cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTESSARY_TESTS=ON -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
  cmake --build "$dir" -j "$JOBS"
  ctest --test-dir "$dir" --output-on-failure -j "$JOBS"
}

# Cross-builds the stream vectors program for aarch64 and runs it under the emulator.
run_vectors_on_aarch64() {
  cmake -S . -B build/aarch64 -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARY_VECTORS=ON \
    -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake >/dev/null
  cmake --build build/aarch64 -j "$JOBS" --target check_stream_vectors
  qemu-aarch64 -L /usr/aarch64-linux-gnu build/aarch64/check_stream_vectors "$VECTORS"
}

# Every suite is expected: a missing one fails the run rather than passing unnoticed.
require_files() {
  local pattern
  for pattern in "$@"; do
    compgen -G "$pattern" >/dev/null || { say "missing test suite: nothing matches $pattern"; exit 1; }
  done
}

require_files "tests/cpp/*/*_test.cpp" "tests/fuzz/*_fuzz.cpp" "tests/python/test_*.py" \
  "src/binding/*.cpp" "src/core_module/*.cpp"

say "C++ unit tests (ASan + UBSan)"
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTESSARY_TESTS=ON -DTESSARY_SANITIZE=ON >/dev/null
cmake --build build/sanitize -j "$JOBS"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$JOBS"

say "C++ unit tests built with -march=native (FMA where the processor has it)"
timed build_and_run_tests build/native gcc g++ -march=native

say "C++ unit tests built with clang"
timed build_and_run_tests build/clang clang clang++ ""

say "stream vectors on aarch64: cross-built, run under qemu-user"
ensure_foreign_architecture arm64
ensure_debian_packages g++-aarch64-linux-gnu qemu-user libssl-dev:arm64 libzstd-dev:arm64 \
  libdeflate-dev:arm64 libxxhash-dev:arm64
timed run_vectors_on_aarch64

"$ROOT/scripts/fuzz.sh" 60

"$ROOT/scripts/test-python.sh"
"$ROOT/scripts/test-install.sh"
say "all tests passed"
