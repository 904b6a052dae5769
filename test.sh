#!/usr/bin/env bash
# Installs what is missing, builds everything with tests and runs every
# test. Ends with the line "N passed, N failed".
#   ./test.sh                          the suite
#   ./test.sh --sanitize=address,undefined | --sanitize=thread
set -uo pipefail
cd "$(dirname "$0")"

sanitize=""
for arg in "$@"; do
  case "$arg" in
    --sanitize=*) sanitize="${arg#--sanitize=}" ;;
    *) echo "unknown option: $arg" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh || exit 1

dir=build/test
[ -n "$sanitize" ] && dir="build/test-${sanitize//,/-}"
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVORLINK_WERROR=$werror -DVORLINK_SANITIZE="$sanitize" >/dev/null || exit 1
cmake --build "$dir" || { echo "0 passed, 1 failed"; exit 1; }

# Libraries Debian does not build with ThreadSanitizer hide their own
# synchronisation from it; their reports are dropped (tests/tsan.supp).
if [[ "$sanitize" == *thread* ]]; then
  export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp ${TSAN_OPTIONS:-}"
fi

log="$dir/ctest.log"
(cd "$dir" && ctest --output-on-failure -j2 --timeout 300) 2>&1 | tee "$log"
summary=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
if [ -z "$summary" ]; then
  echo "0 passed, 1 failed"
  exit 1
fi
failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$summary")
passed=$((total - failed))

# The fuzz targets, for a bounded time, when clang is there (plain runs only).
if [ -z "$sanitize" ] && command -v clang++ >/dev/null; then
  if tests/fuzz/run-fuzzers.sh "${VORLINK_FUZZ_SECONDS:-40}"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
