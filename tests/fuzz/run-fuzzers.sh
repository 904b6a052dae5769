#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, ASan and UBSan in build/fuzz and
# runs each on a copy of its seed corpus, sharing the time budget equally.
# Fails when any target finds a crash. Ends with "N passed, N failed".
#   tests/fuzz/run-fuzzers.sh [TOTAL_SECONDS]
set -uo pipefail
cd "$(dirname "$0")/../.."
targets=(manifest field utf8 trace override)
total=${1:-40}
seconds=$((total / ${#targets[@]}))
[ "$seconds" -ge 1 ] || seconds=1
dir=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DVORLINK_FUZZ=ON -DVORLINK_BUILD_DESKTOP=OFF \
  -DVORLINK_BUILD_TESTS=OFF -DVORLINK_BUILD_BENCH=OFF -DVORLINK_SANITIZE=address,undefined >/dev/null || exit 1
cmake --build "$dir" --target "${targets[@]/%/_fuzzer}" >/dev/null || { echo "0 passed, 1 failed"; exit 1; }
passed=0 failed=0
for target in "${targets[@]}"; do
  corpus=$(mktemp -d)
  cp tests/fuzz/corpus/$target/* "$corpus"/ 2>/dev/null
  if "$dir/bin/${target}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$dir/$target-" "$corpus" 2>"$dir/$target.log"; then
    passed=$((passed + 1))
    echo "$target: $(grep -E '^#[0-9]+.*(DONE|pulse|NEW|REDUCE)' "$dir/$target.log" | tail -n 1 | sed -E 's/^#([0-9]+)[^c]*(cov: [0-9]+ ft: [0-9]+).*/\1 runs, \2/')"
  else
    failed=$((failed + 1))
    tail -n 40 "$dir/$target.log"
  fi
  rm -rf "$corpus"
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
