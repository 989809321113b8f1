# Shared set-up for the project's scripts: finds Python 3.13, installs missing system packages,
# and prepares the virtual environment. Sourced, not run.

set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

say() { printf '==> %s\n' "$*" >&2; }

# A candidate counts only if it runs and reports 3.13.
is_python313() {
  [ -n "$1" ] && "$1" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))' >/dev/null 2>&1
}

# PYTHON if set, else python3.13 on PATH, else pyenv's newest 3.13.
find_python() {
  if [ -n "${PYTHON:-}" ]; then
    is_python313 "$PYTHON" && { echo "$PYTHON"; return; }
    say "PYTHON=$PYTHON is not a working Python 3.13"; return 1
  fi
  if is_python313 python3.13; then command -v python3.13; return; fi
  if command -v pyenv >/dev/null 2>&1; then
    local root version
    root=$(pyenv root)
    for version in $(pyenv versions --bare 2>/dev/null | grep -E '^3\.13(\.[0-9]+)?$' | sort -t. -k3,3nr); do
      if is_python313 "$root/versions/$version/bin/python3.13"; then
        echo "$root/versions/$version/bin/python3.13"; return
      fi
    done
  fi
  say "no Python 3.13 found: set PYTHON, put python3.13 on PATH, or install it with pyenv"
  return 1
}

# Installs the Debian packages that are missing (when root), or says what to install.
ensure_debian_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    say "installing ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    say "missing system packages: ${missing[*]}"
    say "install them with: sudo apt-get install ${missing[*]}"
    return 1
  fi
}

# Makes dpkg accept packages of another architecture (for cross builds), when root.
ensure_foreign_architecture() {
  dpkg --print-foreign-architectures | grep -qx "$1" && return 0
  if [ "$(id -u)" -eq 0 ]; then
    say "adding the $1 architecture to dpkg"
    dpkg --add-architecture "$1"
    apt-get update -qq
  else
    say "run: sudo dpkg --add-architecture $1 && sudo apt-get update"
    return 1
  fi
}

# Runs a command and says how long it took, to a tenth of a second.
timed() {
  local start=${EPOCHREALTIME/[^0-9]/} tenths  # microseconds, whatever the locale's decimal mark
  "$@"
  tenths=$(((${EPOCHREALTIME/[^0-9]/} - start) / 100000))
  say "took $((tenths / 10)).$((tenths % 10)) s: $*"
}

# The clang runtime package carries the major version of the clang that is installed.
clang_runtime_package() {
  local major
  major=$(clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n1)
  echo "libclang-rt-${major:-14}-dev"
}

# The compilers and the C libraries the core links: libdeflate and libzstd (compressed output),
# libcrypto and libxxhash (SHA-256 and XXH3-128 digests), and zlib (the tests read gzip with it);
# cmake/dependencies.cmake looks for the core's.
BUILD_TOOLS=(g++ cmake ninja-build zlib1g-dev libzstd-dev libdeflate-dev libssl-dev libxxhash-dev)

# Creates the virtual environment (.venv unless a directory is given) with the given Python
# unless it is there already, and echoes its interpreter.
ensure_venv() {
  local python=$1 venv=${2:-$ROOT/.venv}
  if ! is_python313 "$venv/bin/python"; then
    say "creating $venv"
    rm -rf "$venv"
    "$python" -m venv "$venv"
    "$venv/bin/python" -m pip install -q --upgrade pip
  fi
  echo "$venv/bin/python"
}
