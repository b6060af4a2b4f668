#!/usr/bin/env bash
# Builds the receipt-validation fuzz target with clang, libFuzzer, ASan and
# UBSan, writes its seeds and fuzzes for the given number of seconds (30 by
# default). Extra arguments go to libFuzzer. Needs `scripts/setup.sh --fuzz`.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/env.sh
seconds=${1:-30}
shift || true

jobs=$(nproc 2>/dev/null || echo 2)
# Apple's clang has no libFuzzer; Homebrew's has.
if [ "$(uname -s)" = Darwin ]; then
  llvm=$(brew --prefix llvm)
  export CC="$llvm/bin/clang" CXX="$llvm/bin/clang++"
else
  export CC=clang-19 CXX=clang++-19
fi
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUINTREL_PYTHON=OFF -DQUINTREL_TESTS=OFF -DQUINTREL_SANITIZE=ON -DQUINTREL_FUZZ=ON >/dev/null
cmake --build build/fuzz -j "$jobs" --target receipt_fuzz receipt_fuzz_seeds

rm -rf build/fuzz/seeds
mkdir -p build/fuzz/seeds build/fuzz/corpus
build/fuzz/receipt_fuzz_seeds build/fuzz/seeds
# New inputs go to the corpus directory, which is kept between runs. The full
# log is shown only when the fuzzer finds something.
if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 build/fuzz/receipt_fuzz \
  -max_total_time="$seconds" -max_len=32768 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix=build/fuzz/ -dict=fuzz/receipt.dict "$@" build/fuzz/corpus build/fuzz/seeds \
  >build/fuzz/fuzz.log 2>&1; then
  tail -n 200 build/fuzz/fuzz.log
  echo "fuzzing found a failure; the input is in build/fuzz/" >&2
  exit 1
fi
grep -E '^#[0-9]+[[:space:]]+DONE|^stat::' build/fuzz/fuzz.log
