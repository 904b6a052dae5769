#!/usr/bin/env bash
# Long fuzzing runs: each libFuzzer target for MINUTES, one after the other,
# on a corpus that grows from run to run in CORPUS_DIR (outside the
# repository; seeded from tests/fuzz/corpus). Crash inputs are kept in
# CORPUS_DIR/crashes. Prints runs, coverage and features per target.
#   bench/fuzz-long.sh [MINUTES] [CORPUS_DIR] [TARGET...]
set -uo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-5}
store=${2:-${XDG_CACHE_HOME:-$HOME/.cache}/vorlink-fuzz}
shift $(($# > 2 ? 2 : $#))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(manifest field utf8 trace override)
dir=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DVORLINK_FUZZ=ON -DVORLINK_BUILD_DESKTOP=OFF \
  -DVORLINK_BUILD_TESTS=OFF -DVORLINK_BUILD_BENCH=OFF -DVORLINK_SANITIZE=address,undefined >/dev/null || exit 1
cmake --build "$dir" --target "${targets[@]/%/_fuzzer}" >/dev/null || exit 1
mkdir -p "$store/crashes"
status=0
for target in "${targets[@]}"; do
  corpus=$store/$target
  mkdir -p "$corpus"
  cp -n tests/fuzz/corpus/$target/* "$corpus"/ 2>/dev/null
  log=$store/$target.log
  "$dir/bin/${target}_fuzzer" -max_total_time=$((minutes * 60)) -print_final_stats=1 \
    -artifact_prefix="$store/crashes/$target-" "$corpus" 2>"$log"
  result=$?
  runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$')
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | grep -oE 'cov: [0-9]+ ft: [0-9]+')
  crashes=$(ls "$store/crashes" | grep -c "^$target-")
  printf '%-9s %10s runs  %-20s corpus %5d files  crash files %d  exit %d\n' \
    "$target" "${runs:-?}" "${last:-?}" "$(ls "$corpus" | wc -l)" "$crashes" "$result"
  [ "$result" -eq 0 ] || { status=1; tail -n 30 "$log"; }
done
exit $status
