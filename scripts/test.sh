#!/usr/bin/env bash
# Runs every test: the native suites, the same suites under AddressSanitizer and
# UndefinedBehaviorSanitizer, each fuzzer for a bounded time, and the Windows
# program end to end under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
kurvane_ensure_packages $native_packages $sanitizer_packages $windows_packages

fuzz_seconds=${KURVANE_FUZZ_SECONDS:-60}
step() { printf '\n==== %s\n' "$*"; }
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
passed=0
skipped=0
# Runs ctest for a preset and adds its counts to the totals.
run_ctest() {
  ctest --preset "$1" -j2 --timeout 300 | tee "$logs/ctest-$1.log"
  local total skip
  total=$(sed -n 's/.*tests failed out of \([0-9]*\)$/\1/p' "$logs/ctest-$1.log")
  skip=$(grep -c '(Skipped)$' "$logs/ctest-$1.log" || true)
  passed=$((passed + total - skip))
  skipped=$((skipped + skip))
}

step "native build and tests"
cmake --preset default
cmake --build --preset default -j2
run_ctest default

step "sanitizer build and tests (ASan + UBSan)"
cmake --preset asan
cmake --build --preset asan -j2
run_ctest asan

step "fuzzers, ${fuzz_seconds} s each"
cmake --preset fuzz
fuzzers=$(sed -n 's/^add_executable(\(kurvane_fuzz_[a-z_]*\).*/\1/p' fuzz/CMakeLists.txt)
cmake --build --preset fuzz -j2 --target $fuzzers
for name in $fuzzers; do
  fuzzer=build/fuzz/fuzz/$name
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=fuzz/corpus/${name#kurvane_fuzz_}
  log=build/fuzz/$name.log
  status=0
  "$fuzzer" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
    -artifact_prefix=build/fuzz/"$name"- "$corpus" "$seeds" >"$log" 2>&1 || status=$?
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$log" | sed "s/^/$name: /"
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$log"
    echo "$name: finding (exit $status); the input is saved under build/fuzz/$name-*"
    exit 1
  fi
  passed=$((passed + 1))
done

step "Windows program under Wine"
bash tests/wine/run.sh | tee "$logs/wine.log"
passed=$((passed + $(grep -c '^ok \[' "$logs/wine.log")))

echo
echo "tests: $passed passed, 0 failed, $skipped skipped"
