#!/usr/bin/env bash
# The Python checks and tests: ruff over the Python code and mypy over the package and its stubs,
# then the tests once against the installed package and once more (without the slow tests) against
# an AddressSanitizer + UndefinedBehaviorSanitizer build of the extension.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"

python=$(ensure_venv "$(find_python)")
say "installing tessary and the test and lint dependencies into .venv"
"$python" -m pip install -q ".[test,lint]"

say "ruff and mypy (settings in pyproject.toml)"
"$python" -m ruff check python tests bench
"$python" -m mypy

say "Python tests"
"$python" -m pytest -q tests/python

say "Python tests against the sanitizer build of the extension"
cmake -S . -B build/sanitize-module -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTESSARY_MODULE=ON -DTESSARY_SANITIZE=ON -DPython_EXECUTABLE="$python" >/dev/null
cmake --build build/sanitize-module -j "$JOBS" --target _core _engine
stage=build/sanitize-module/stage
rm -rf "$stage" && mkdir -p "$stage/tessary"
cp -R python/tessary/. "$stage/tessary/"  # the package, its subpackages and its data
cp build/sanitize-module/*.so "$stage/tessary/"
# The interpreter itself is not instrumented: ASan must be loaded first, and its leak checker
# would report the interpreter's own allocations kept until exit. The C++ runtime is preloaded
# too: ASan intercepts exception throwing only if the runtime is there when ASan starts, and a
# panic (a thrown exception) would otherwise abort the process.
LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)" ASAN_OPTIONS=detect_leaks=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 PYTHONPATH="$ROOT/$stage" \
  "$python" -m pytest -q -p no:cacheprovider -m "not slow" tests/python
