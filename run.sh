#!/usr/bin/env bash
# Installs what is missing, builds the agent (Release) and runs it in the
# foreground, the way a desktop session would start it, with the demo page
# served beside it. Stop it with Ctrl+C. A restart from the tray menu starts
# a successor agent; this script, and the demo page, stay until no agent it
# started runs any more.
#   VORLINK_AGENT=path/to/vorlink45 ./run.sh    runs that build instead (tests)
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
agent_exe=${VORLINK_AGENT:-}
if [ -z "$agent_exe" ]; then
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVORLINK_BUILD_TESTS=OFF -DVORLINK_BUILD_BENCH=OFF >/dev/null
  cmake --build build/release
  agent_exe=build/release/bin/vorlink45
fi
agent_exe=$(readlink -f "$agent_exe")

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

page_server="" bus=""
# The agents this script started: the first one, and the successor that
# each restart from the tray starts (the same executable, this user's).
agents() {
  local p
  for p in $(pgrep -u "$(id -u)" -x vorlink45 || true); do
    [ "$(readlink "/proc/$p/exe" 2>/dev/null)" = "$agent_exe" ] && echo "$p"
  done
  return 0
}
stop_agents() {
  local p
  for p in $(agents); do kill -TERM "$p" 2>/dev/null || true; done
}
cleanup() {
  stop_agents
  [ -n "$page_server" ] && kill "$page_server" 2>/dev/null
  [ -n "$bus" ] && kill "$bus" 2>/dev/null
  return 0
}
trap stop_agents INT TERM HUP
trap cleanup EXIT

# Module scripts do not load from file:// pages, so the demo page is served
# on loopback for as long as an agent runs. Whether the port is free is
# known only once the server has bound it (a last run's connections in
# TIME_WAIT do not stop it; another program listening there does), so the
# server is started and then asked for the page.
demo_port=48280
demo_log=$(mktemp "${TMPDIR:-/tmp}/vorlink-demo-page.XXXXXX")
python3 -m http.server --bind 127.0.0.1 --directory web "$demo_port" >"$demo_log" 2>&1 &
page_server=$!
for _ in $(seq 50); do
  kill -0 "$page_server" 2>/dev/null || break
  curl -sf -o /dev/null "http://127.0.0.1:$demo_port/demo.html" && break
  sleep 0.1
done
if kill -0 "$page_server" 2>/dev/null; then
  echo "Demo page: http://127.0.0.1:$demo_port/demo.html"
else
  page_server=""
  echo "Demo page: not served: port $demo_port on 127.0.0.1 is taken by another program" \
    "($(tail -n 1 "$demo_log")); see who with: ss -ltnp 'sport = :$demo_port'" >&2
fi
rm -f "$demo_log"

agent=("$agent_exe" "$@")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running with Qt's offscreen platform and without a tray icon (NOTRAY)."
  export QT_QPA_PLATFORM=offscreen
  agent+=(NOTRAY)
fi
# A session bus of this script's, so that a successor agent still has it.
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  echo "No session bus: starting one for the agent."
  address=$(dbus-daemon --session --fork --print-address=1 --print-pid=3 3>"${TMPDIR:-/tmp}/vorlink-run-bus.$$")
  bus=$(cat "${TMPDIR:-/tmp}/vorlink-run-bus.$$")
  rm -f "${TMPDIR:-/tmp}/vorlink-run-bus.$$"
  export DBUS_SESSION_BUS_ADDRESS=$address
fi
echo "The agent serves https://localhost:48200/ (or 48201, 48202 when taken)."
echo "Its log is in ${XDG_STATE_HOME:-$HOME/.local/state}/Vorlink."
echo "Try: curl --cacert ${XDG_DATA_HOME:-$HOME/.local/share}/vorlink/identity/ca.pem -d 'InitDLL=PKCS11' https://127.0.0.1:48200/ORVA"
"${agent[@]}" &
wait $! || true
# A restart from the tray leaves a successor running: wait for it too.
while [ -n "$(agents)" ]; do sleep 1; done
