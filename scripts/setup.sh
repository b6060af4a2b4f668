#!/usr/bin/env bash
# Installs everything the build, the tests and the benchmarks need. Safe to run again.
# With --fuzz, also clang and libFuzzer for the fuzz target (scripts/fuzz.sh).
set -euo pipefail

debian_packages=(
  build-essential pkg-config
  libssl-dev libsodium-dev
  libgtest-dev libbenchmark-dev rapidjson-dev
)
if [ "${1:-}" = "--fuzz" ]; then
  debian_packages+=(clang-19 libfuzzer-19-dev libclang-rt-19-dev)
fi
# Node.js is the independent oracle for number formatting; any install of it will do.
command -v node >/dev/null || debian_packages+=(nodejs)

missing=()
for p in "${debian_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# CMake 3.26 or later is needed for stable-ABI modules; Debian's is older.
# numpy is for the tests only: the module recognises numpy's bool without it.
python3 -m pip install -q --disable-pip-version-check \
  "cmake>=3.26" ninja "scikit-build-core>=0.10" "pytest>=7" "abi3audit>=0.0.9" numpy
