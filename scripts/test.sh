#!/usr/bin/env bash
# Sets everything up, then runs every test: on Linux the compile of every
# source for macOS on 64-bit Arm, the C++ tests plain and under
# AddressSanitizer with UndefinedBehaviorSanitizer, each followed by the long
# mode (tests labelled "long"), the Python tests against the wheel installed in
# the project's virtual environment (also under CPython 3.10 and 3.13 where
# pyenv has them), the README's example, and a short run of the receipt fuzz
# target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --fuzz
source scripts/env.sh

# On macOS the builds below compile every source for it anyway.
[ "$(uname -s)" = Darwin ] || bash scripts/check_macos.sh

jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUINTREL_PYTHON=ON -DQUINTREL_TESTS=ON -DQUINTREL_PROBE=ON >/dev/null
cmake --build build/release -j "$jobs" --target quintrel_tests quintrel_probe
ctest --test-dir build/release --output-on-failure -LE long
ctest --test-dir build/release --output-on-failure -L long

cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUINTREL_PYTHON=OFF -DQUINTREL_TESTS=ON \
  -DQUINTREL_SANITIZE=ON >/dev/null
cmake --build build/sanitize -j "$jobs"
sanitizers=(ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1)
env "${sanitizers[@]}" ctest --test-dir build/sanitize --output-on-failure -LE long
env "${sanitizers[@]}" ctest --test-dir build/sanitize --output-on-failure -L long

rm -rf build/dist
python3 -m pip wheel -q --no-deps --disable-pip-version-check -w build/dist .
python3 -m abi3audit --strict build/dist/quintrel-*.whl
python3 -m pip install -q --force-reinstall --no-deps --disable-pip-version-check build/dist/quintrel-*.whl
# The binding layer's test module lies in the release build directory.
PYTHONPATH="$PWD/build/release" python3 -c 'import _quintrel_probe'
PYTHONPATH="$PWD/build/release" python3 -m pytest -q tests/python
python3 examples/first_log.py >/dev/null

# The wheel is abi3: where pyenv has the oldest and newest CPython the module
# supports, the Python tests run under each of them too, in a venv of its own.
pyenv_root=$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")
for version in 3.10 3.13; do
  interpreter=$(ls -d "$pyenv_root"/versions/"$version".*/bin/python3 2>/dev/null | tail -n 1 || true)
  [ -x "$interpreter" ] || { echo "no CPython $version here; skipped"; continue; }
  rm -rf "build/venv-$version"
  "$interpreter" -m venv "build/venv-$version"
  "build/venv-$version/bin/python" -m pip install -q --disable-pip-version-check "pytest>=7" numpy build/dist/quintrel-*.whl
  PYTHONPATH="$PWD/build/release" "build/venv-$version/bin/python" -m pytest -q -p no:cacheprovider tests/python
done

bash scripts/fuzz.sh 30
