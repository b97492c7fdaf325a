#!/usr/bin/env bash
# Builds the command-line program and runs its main job on a generated sample
# data file: binary padding with Shift-JIS and ASCII text inside.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
kurvane_ensure_packages $native_packages

cmake --preset default >/dev/null
cmake --build --preset default -j2 --target kurvane kurvane_make_corpus

demo=build/demo
rm -rf "$demo" && mkdir -p "$demo"
build/default/bench/kurvane_make_corpus mixed 65536 "$demo/sample.dat"
build/default/src/app/kurvane "$demo/sample.dat"

echo "== $demo/sample.dat ($(stat -c %s "$demo/sample.dat") bytes) -> $demo/sample.txt ($(stat -c %s "$demo/sample.txt") bytes, $(wc -l <"$demo/sample.txt") lines)"
echo "== first lines, shown as UTF-8:"
head -n 12 "$demo/sample.txt" | iconv -f CP932 -t UTF-8 | tr -d '\r'
