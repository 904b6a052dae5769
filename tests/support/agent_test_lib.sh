# Shell helpers shared by the tests that start the real agent or a real
# browser. Source it; it defines functions only.

# A TCP port on 127.0.0.1 that nothing listens on right now.
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# The port the agent logged as serving, waiting up to 10 s for the line in
# its log folder ($XDG_STATE_HOME/Vorlink); empty when it never came.
wait_for_agent_port() {
  local port=""
  for _ in $(seq 100); do
    port=$(grep -ho 'https 服務已經啟動, port = (int)[0-9]*' "$XDG_STATE_HOME"/Vorlink/* 2>/dev/null | grep -o '[0-9]*$')
    [ -n "$port" ] && break
    sleep 0.1
  done
  echo "$port"
}

# A new Firefox profile at PROFILE, made by the Firefox at EXE, kept quiet
# on a closed network (no update, telemetry or connectivity checks).
make_quiet_firefox_profile() {
  local exe=$1 profile=$2
  mkdir -p "$(dirname "$profile")"
  timeout 60 "$exe" --headless -CreateProfile "test $profile" >/dev/null 2>&1
  cat >"$profile/user.js" <<'PREFS'
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("app.update.enabled", false);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("browser.aboutwelcome.enabled", false);
user_pref("network.lna.enabled", false);
PREFS
}

# Runs the calling script again inside private_network.sh (no packet leaves
# the machine), unless it already runs there. Call it first, with "$@":
#   enter_private_network "$@"          or, for a process namespace too,
#   enter_private_network --pid "$@"
enter_private_network() {
  [ "${VORLINK_PRIVATE_NETWORK:-}" = 1 ] && return 0
  local pid=()
  if [ "${1:-}" = --pid ]; then pid=(--pid); shift; fi
  exec "$(dirname "${BASH_SOURCE[0]}")/private_network.sh" "${pid[@]}" bash "$0" "$@"
}
