#!/usr/bin/env bash
# Start-up (spawn to first answered request) and SIGTERM-to-exit of the
# agent program, against bench_reference_server and /bin/true, RUNS times.
#   bench/run-startup-bench.sh [BUILD_DIR] [AGENT] [RUNS]
# AGENT defaults to BUILD_DIR/bin/vorlink45; the desktop build gets NOTRAY,
# Qt's offscreen platform and a private session bus, started once here so
# its own start-up is not counted.
set -euo pipefail
build=${1:-build/test}
bin=$(realpath "$build/bin")  # absolute, so no pattern meant for a relative path matches it
agent=$(realpath "${2:-$bin/vorlink45}")
runs=${3:-20}
args=()
if ldd "$agent" | grep -q libQt6; then
  args=(NOTRAY)
  if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    read -r DBUS_SESSION_BUS_ADDRESS bus_pid < <(dbus-daemon --session --fork --print-address=1 --print-pid=1 | paste -s -d ' ')
    export DBUS_SESSION_BUS_ADDRESS
    trap 'kill "$bus_pid"' EXIT
  fi
fi
"$bin/startup_bench" "$agent" "$bin/bench_reference_server" "$runs" "${args[@]}"
