#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, ASan and UBSan in build/fuzz and
# runs each for a bounded time. Ends with "N passed, N failed".
#   tests/fuzz/run-fuzzers.sh [SECONDS_PER_TARGET]
set -uo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-20}
dir=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DVORLINK_FUZZ=ON -DVORLINK_BUILD_DESKTOP=OFF \
  -DVORLINK_BUILD_TESTS=OFF -DVORLINK_BUILD_BENCH=OFF -DVORLINK_SANITIZE=address,undefined >/dev/null || exit 1
cmake --build "$dir" --target manifest_fuzzer >/dev/null || { echo "0 passed, 1 failed"; exit 1; }
passed=0 failed=0
for target in manifest; do
  corpus=$(mktemp -d)
  cp tests/fuzz/corpus/$target/* "$corpus"/ 2>/dev/null
  if "$dir/bin/${target}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 "$corpus" 2>"$dir/$target.log"; then
    passed=$((passed + 1))
    grep -E 'stat::number_of_executed_units|cov:' "$dir/$target.log" | tail -n 2
  else
    failed=$((failed + 1))
    tail -n 40 "$dir/$target.log"
  fi
  rm -rf "$corpus"
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
