#!/usr/bin/env bash
# Installs everything the build, the tests and the benchmarks need: the
# system's packages (Debian's, or Homebrew's on macOS), then the Python tools in
# the project's own virtual environment, .venv/, so that nothing is installed
# into the system's Python. Safe to run again. With --fuzz, also clang and
# libFuzzer for the fuzz target (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz=false
[ "${1:-}" = "--fuzz" ] && fuzz=true

# Whether `python` is CPython 3.10 or later with the headers a module is built against.
python_ok() {
  "$1" -c 'import os, sys, sysconfig
sys.exit(sys.version_info < (3, 10) or not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' \
    2>/dev/null
}

debian_packages() {
  local packages=(
    build-essential pkg-config
    libssl-dev libsodium-dev
    libgtest-dev libbenchmark-dev rapidjson-dev
    python3 python3-venv
  )
  # The system's Python, where it is the one found first, needs its headers.
  python_ok python3 || packages+=(python3-dev)
  if $fuzz; then
    packages+=(clang-19 libfuzzer-19-dev libclang-rt-19-dev)
  fi
  # Node.js is the independent oracle for number formatting; any install of it will do.
  command -v node >/dev/null || packages+=(nodejs)

  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
  python=python3
}

macos_packages() {
  command -v brew >/dev/null || { echo "setup on macOS needs Homebrew (brew)" >&2; exit 1; }
  local packages=(libsodium openssl@3 pkg-config googletest google-benchmark rapidjson) brew_python=false
  # Apple's own python3 is older than 3.10.
  python_ok python3 || { packages+=(python); brew_python=true; }
  if $fuzz; then
    packages+=(llvm)
  fi
  command -v node >/dev/null || packages+=(node)

  local missing=() p
  for p in "${packages[@]}"; do
    brew list --formula "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  if ((${#missing[@]})); then
    brew install "${missing[@]}"
  fi
  python=python3
  if $brew_python; then python="$(brew --prefix python)/libexec/bin/python"; fi
}

case "$(uname -s)" in
  Darwin) macos_packages ;;
  *) debian_packages ;;
esac
python_ok "$python" || { echo "setup needs CPython 3.10 or later with its headers" >&2; exit 1; }

# The environment stays bound to the Python it was made with; it is made anew
# only when that Python is gone.
if ! .venv/bin/python -c '' 2>/dev/null; then
  rm -rf .venv
  "$python" -m venv .venv
fi
# CMake 3.26 or later is needed for stable-ABI modules; Debian's is older.
# numpy is for the tests only: the module recognises numpy's bool without it.
tools=("cmake>=3.26" ninja "scikit-build-core>=0.10" "pytest>=7" "abi3audit>=0.0.9" numpy)
# The cross-compiler for the macOS check of scripts/test.sh, pinned because
# the check reads how this release reports a compile that writes no object.
[ "$(uname -s)" = Darwin ] || tools+=("ziglang==0.17.1")
.venv/bin/python -m pip install -q --disable-pip-version-check "${tools[@]}"
