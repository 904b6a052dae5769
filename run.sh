#!/usr/bin/env bash
# Installs what is missing, builds the agent (Release) and runs it in the
# foreground, the way a desktop session would start it. Stop it with Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVORLINK_BUILD_TESTS=OFF -DVORLINK_BUILD_BENCH=OFF >/dev/null
cmake --build build/release

# A demo token for trying the agent without a card, unless the user keeps
# SoftHSM2 tokens of their own (SOFTHSM2_CONF or a per-user SoftHSM2
# configuration) or asks for none with VORLINK_DEMO_TOKEN=0. Only the
# agent's environment points at it; a real token is listed beside it.
if [ "${VORLINK_DEMO_TOKEN:-1}" != 0 ] && [ -z "${SOFTHSM2_CONF:-}" ] &&
  [ ! -e "$HOME/.config/softhsm2/softhsm2.conf" ]; then
  demo=${XDG_DATA_HOME:-$HOME/.local/share}/vorlink/demo-token
  scripts/demo-token.sh "$demo"
  export SOFTHSM2_CONF=$demo/softhsm2.conf
fi

# Module scripts do not load from file:// pages, so the demo page is served
# on loopback for as long as the agent runs.
demo_port=48280
if python3 -c "import socket,sys; socket.socket().bind(('127.0.0.1',$demo_port))" 2>/dev/null; then
  python3 -m http.server --bind 127.0.0.1 --directory web "$demo_port" >/dev/null 2>&1 &
  page_server=$!
  (while kill -0 $$ 2>/dev/null; do sleep 2; done; kill "$page_server") &
  echo "Demo page: http://127.0.0.1:$demo_port/demo.html"
fi

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
echo "Try: curl --cacert ${XDG_DATA_HOME:-$HOME/.local/share}/vorlink/identity/ca.pem https://localhost:48200/"
exec "${agent[@]}"
