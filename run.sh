#!/usr/bin/env bash
# Installs what is missing, builds the agent (Release) and runs it in the
# foreground, the way a desktop session would start it. Stop it with Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVORLINK_BUILD_TESTS=OFF -DVORLINK_BUILD_BENCH=OFF >/dev/null
cmake --build build/release

agent=(build/release/bin/vorlink45 "$@")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running with Qt's offscreen platform and without a tray icon (NOTRAY)."
  export QT_QPA_PLATFORM=offscreen
  agent+=(NOTRAY)
fi
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  echo "No session bus: running under dbus-run-session."
  agent=(dbus-run-session -- "${agent[@]}")
fi
echo "The agent serves https://localhost:48200/ (or 48201, 48202 when taken)."
echo "Its log is in ${XDG_STATE_HOME:-$HOME/.local/state}/Vorlink."
echo "Try: curl --cacert resources/ORVA.crt https://localhost:48200/"
exec "${agent[@]}"
