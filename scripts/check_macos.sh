#!/usr/bin/env bash
# Compiles every source of src/ and binding/ for macOS on 64-bit Arm, compile
# only, with the cross-compiler that scripts/setup.sh puts in .venv/ (zig's
# clang, with the target's C and C++ library headers). OpenSSL's, libsodium's
# and CPython's headers are this machine's, reached through directories of
# links that hold nothing else, so that no header of this machine's C library
# can stand in for the target's. Fails if any source does not compile.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/macos-check
target=aarch64-macos
zig=("$PWD/.venv/bin/python" -m ziglang c++ -target "$target")

rm -rf "$out"
mkdir -p "$out/include/main" "$out/include/arch" "$out/include/python" "$out/pch"

# The directory from which this machine's compiler takes `header`.
header_root() {
  local header=$1
  shift
  echo "#include <$header>" | c++ -x c++ -M "$@" - 2>/dev/null | tr ' \\' '\n\n' | grep "/$header\$" |
    tail -n 1 | sed "s|/$header\$||"
}
link_from() {
  local root=$1 name=$2 into=$3
  [ -n "$root" ] && [ -e "$root/$name" ] || { echo "no $name among this machine's headers" >&2; exit 1; }
  ln -sfn "$root/$name" "$into/$name"
}
openssl_root=$(header_root openssl/sha.h)
link_from "$openssl_root" openssl "$out/include/main"
# Debian keeps OpenSSL's build configuration in a directory of its own.
arch_root=$(header_root openssl/configuration.h)
[ "$arch_root" = "$openssl_root" ] || link_from "$arch_root" openssl "$out/include/arch"
sodium_root=$(header_root sodium.h)
link_from "$sodium_root" sodium.h "$out/include/main"
link_from "$sodium_root" sodium "$out/include/main"
# Debian's pyconfig.h only chooses among Linux ones, so the one it chooses
# here takes its place.
python_include=$(.venv/bin/python -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
for entry in "$python_include"/*; do ln -sfn "$entry" "$out/include/python/"; done
link_from "$(header_root pyconfig.h -I"$python_include")" pyconfig.h "$out/include/python"

# The file layer's platform branches are chosen by the target's own macros.
"${zig[@]}" -x c++ -dM -E /dev/null | grep -x '#define __APPLE__ 1' >/dev/null ||
  { echo "$target: __APPLE__ is not defined" >&2; exit 1; }

export ZIG_GLOBAL_CACHE_DIR="$PWD/$out/zig-cache" ZIG_LOCAL_CACHE_DIR="$PWD/$out/zig-cache"
flags=(-std=c++23 -Wall -Wextra -Wno-missing-field-initializers -g0 -fno-sanitize=all
       -Isrc -I"$out/include/main" -I"$out/include/arch" -I"$out/include/python"
       -DPy_LIMITED_API=0x030A0000 -DQUINTREL_VERSION=\"0.0.0\")
parallel=$(nproc 2>/dev/null || echo 2)
started=$SECONDS

# Most of the time goes into the same few headers. Each is parsed once into a
# precompiled header, which a source gets only when it includes that header
# anyway; a binding source only one that begins with Python.h, as its own
# includes do. The first one a source includes is the one it gets.
pch_headers=(binding/views.h binding/convert.h src/record/payload.h src/base/codec.h)
for header in "${pch_headers[@]}"; do
  mkdir -p "$out/pch/$(dirname "$header")"
  printf '%s\n' "$header"
done | xargs -P "$parallel" -I{} \
  "${zig[@]}" "${flags[@]}" -fpch-instantiate-templates -x c++-header {} -c -o "$out/pch/{}.pch" ||
  { echo "$target: a header does not compile" >&2; exit 1; }
sources=$(find binding src -name '*.cc' | sort)
# shellcheck disable=SC2086
c++ -std=c++23 -Isrc -I"$python_include" -MM $sources | sed -e ':a' -e '/\\$/N; s/\\\n//; ta' |
  while read -r _ source deps; do
    pch=
    for header in "${pch_headers[@]}"; do
      [ "${header%%/*}" = "${source%%/*}" ] || continue
      case " $deps " in *" $header "*) pch=$header; break ;; esac
    done
    echo "$source $pch"
  done >"$out/sources.txt"

# Syntax only: zig's clang then writes no object, which zig reports as a
# failed rename once the compiler has succeeded; that report, as the last
# line, is the sign of success. A source that fails leaves its name in
# failed.txt.
compile_one() {
  local source=$1 name=${1//\//_} pch=() rc=0
  local log="$out/logs/$name.txt"
  [ -z "$2" ] || pch=(-Xclang -include-pch -Xclang "$out/pch/$2.pch")
  # zig makes an empty file under the output's name (under the source's, in the
  # current directory, for /dev/null).
  "${zig[@]}" "${flags[@]}" "${pch[@]}" -c -fsyntax-only -o "$out/logs/$name.o" "$source" 2>"$log" || rc=$?
  grep -v -e "argument unused during compilation: '-c'" -e "$renamed" "$log" >&2 || true
  [ "$rc" -eq 0 ] || [[ "$(tail -n 1 "$log")" =~ $renamed ]] || echo "$source" >>"$out/failed.txt"
}
renamed="error: failed to rename .*: FileNotFound\$"
mkdir -p "$out/logs"
while read -r source pch; do
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  compile_one "$source" "$pch" &
done <"$out/sources.txt"
wait
if [ -s "$out/failed.txt" ]; then
  echo "$target: these sources do not compile:" $(sort "$out/failed.txt") >&2
  exit 1
fi
echo "$target: $(wc -l <"$out/sources.txt") sources compiled in $((SECONDS - started)) s"
