#!/usr/bin/env bash
# Installs what is missing, builds the agent (Release) and runs it in the
# foreground. Stop it with Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVORLINK_BUILD_TESTS=OFF -DVORLINK_BUILD_BENCH=OFF >/dev/null
cmake --build build/release
echo "Starting the agent; try: curl --cacert resources/ORVA.crt https://localhost:48200/"
exec build/release/bin/vorlink45 "$@"
