#!/usr/bin/env bash
# Real browsers against the real agent, on the attack the per-user identity
# answers: another local user serves the agent's port with the key every
# earlier version shipped.
#   identity_browser_test.sh AGENT_BINARY SOURCE_DIR firefox|chromium CASE
# CASE:
#   old-key-refused  a home trusting what earlier versions installed; the
#                    old-key server holds the first port (48200 when free),
#                    the agent starts (and replaces that trust), and the page
#                    (web/vorlink.js) is refused by the old-key server, goes
#                    on to the agent's port, logs in and signs
#   old-key-control  the same home and server without the agent's start:
#                    the browser trusts the old-key server and sends it the
#                    PIN, which is why the old trust must go
#   new-profile      (firefox) a profile made and started while the agent
#                    runs reaches the agent within seconds, without restart
set -uo pipefail
. "$(dirname "$0")/../support/agent_test_lib.sh"
enter_private_network "$@"
agent_bin=$1 src=$2 browser=$3 case_name=$4
text='Pay 100 to Alice'
pin=123456
label="Vorlink Test"

case "$browser" in
  firefox) exe=$(command -v firefox-esr || command -v firefox) ;;
  chromium) exe=$(command -v chromium) ;;
esac
[ -n "${exe:-}" ] || { echo "SKIP: $browser is not installed"; exit 77; }
for tool in certutil softhsm2-util dbus-daemon python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()
agent_pid=""
cleanup() {
  # The agent first, until it has ended: it holds its port through its
  # shutdown order, and the next test wants that port free.
  if [ -n "$agent_pid" ] && kill -TERM "$agent_pid" 2>/dev/null; then
    for _ in $(seq 50); do kill -0 "$agent_pid" 2>/dev/null || break; sleep 0.1; done
  fi
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  tail -n 20 "$XDG_STATE_HOME"/Vorlink/* 2>/dev/null
  exit 1
}
port_free() { python3 -c 'import socket,sys
for f,a in ((socket.AF_INET,"127.0.0.1"),(socket.AF_INET6,"::1")):
  s=socket.socket(f); s.setsockopt(socket.SOL_SOCKET,socket.SO_REUSEADDR,1); s.bind((a,int(sys.argv[1]))); s.close()' "$1" 2>/dev/null; }
nicknames() { certutil -L -d "sql:$1" 2>/dev/null | tail -n +5 | sed -E 's/ +[^ ]+$//' | sort; }

export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_STATE_HOME=$work/state QT_QPA_PLATFORM=offscreen
unset XDG_DATA_HOME XDG_CONFIG_HOME
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# --- a profile for the browser -----------------------------------------------
profile=$HOME/.mozilla/firefox/test.default

# What an earlier version left: ORVA_SSLCA in the browser's database, and
# (Firefox) exception entries for the old certificate.
install_old_trust() {
  local db
  if [ "$browser" = firefox ]; then
    make_quiet_firefox_profile "$exe" "$profile"
    db=$profile
    old_fp=$(openssl x509 -inform DER -in "$src/resources/localhost.cert.der" -noout -fingerprint -sha256 | cut -d= -f2)
    for p in 48200 48201 48202; do printf 'localhost:%s\tOID.2.16.840.1.101.3.4.2.1\t%s\tU\tAAAA\r\n' "$p" "$old_fp"; done \
      >"$profile/cert_override.txt"
  else
    db=$HOME/.pki/nssdb
    mkdir -p "$db"
  fi
  [ -e "$db/cert9.db" ] || certutil -N --empty-password -d "sql:$db"
  certutil -A -d "sql:$db" -n ORVA_SSLCA -t CT,c,c -i "$src/resources/ORVA.crt" || fail "could not lay out the old trust"
  trust_db=$db
}

# --- servers -----------------------------------------------------------------
start_old_key_server() {  # on 48200 when free, else a free port
  old_port=48200
  port_free "$old_port" || old_port=$(free_port)
  openssl x509 -inform DER -in "$src/resources/localhost.cert.der" -out "$work/old.pem"
  openssl pkey -inform DER -in "$src/tests/support/old-identity/localhost.key.der" -out "$work/old.key"
  python3 "$src/tests/browser/old_key_server.py" "$old_port" "$work/old.pem" "$work/old.key" "$work/old.log" "$label" \
    >"$work/old.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do grep -q READY "$work/old.out" && return; sleep 0.1; done
  fail "the old-key server did not start: $(cat "$work/old.out")"
}

start_agent() {
  "$src/tools/make-softhsm-token.sh" "$work/token" "$label" "$pin" 12345678 "Vorlink Test User" >/dev/null ||
    fail "could not make the test token"
  export SOFTHSM2_CONF=$work/token/softhsm2.conf
  dbus-run-session -- "$agent_bin" notray >"$work/agent.out" 2>&1 &
  local session=$!
  pids+=("$session")
  agent_port=$(wait_for_agent_port)
  agent_pid=$(pgrep -P "$session" -x "$(basename "$agent_bin")")
  [ -n "$agent_port" ] || fail "the agent did not start"
  ca=$HOME/.local/share/vorlink/identity/ca.pem
  ca_name=$(openssl x509 -in "$ca" -noout -subject -nameopt multiline | sed -n 's/^ *commonName *= //p')
}

wait_for_trust() {  # DB: the user's authority, and nothing else, once the agent's trust thread is done
  for _ in $(seq 100); do [ "$(nicknames "$1")" = "$ca_name" ] && return; sleep 0.1; done
  fail "$1 trusts: $(nicknames "$1" | tr '\n' ';')"
}

start_site() {
  mkdir -p "$work/site"
  ln -s "$src/web/vorlink.js" "$src/tests/browser/agent_page.html" "$work/site/"
  page_port=$(free_port)
  report=$work/report.json
  python3 "$src/tests/browser/site_server.py" "$work/site" "$page_port" "$report" &
  pids+=($!)
  for _ in $(seq 50); do curl -sf "http://127.0.0.1:$page_port/agent_page.html" >/dev/null && return; sleep 0.1; done
  fail "the page server did not start"
}

open_page() {  # QUERY: the page in the browser, until it reports (60 s at most)
  local url="http://127.0.0.1:$page_port/agent_page.html?$1"
  rm -f "$report"
  if [ "$browser" = firefox ]; then
    "$exe" --headless --no-remote --profile "$profile" "$url" >/dev/null 2>&1 &
    local browser_pid=$!
    for _ in $(seq 600); do [ -s "$report" ] && break; sleep 0.1; done
    kill "$browser_pid" 2>/dev/null
    wait "$browser_pid" 2>/dev/null
  else
    timeout 90 "$exe" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
      --disable-background-networking --disable-component-update --disable-sync \
      --user-data-dir="$work/chromium" --virtual-time-budget=30000 --dump-dom "$url" >/dev/null 2>&1
  fi
  [ -s "$report" ] || fail "the page reported nothing"
  result=$(cat "$report")
  echo "$browser $case_name: $result"
}
field() { python3 -c 'import json,sys; print(json.load(open(sys.argv[1])).get(sys.argv[2], ""))' "$report" "$1"; }
query_text=$(python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1]))' "$text")

case "$case_name" in
  old-key-refused)
    install_old_trust
    start_old_key_server
    start_agent
    [ "$agent_port" != "$old_port" ] || fail "the agent took the old-key server's port"
    wait_for_trust "$trust_db"
    start_site
    open_page "mode=sign&ports=$old_port,$agent_port&token=Vorlink%20Test&pin=$pin&text=$query_text"
    [ "$(field url)" = "https://localhost:$agent_port/" ] || fail "the page did not sign with the agent: $result"
    [ ! -s "$work/old.log" ] || fail "the old-key server was sent: $(head -c 300 "$work/old.log")"
    field signature | base64 -d >"$work/signature.der" || fail "the signature is not Base64"
    printf '%s' "$text" >"$work/text.txt"
    openssl cms -verify -binary -inform DER -in "$work/signature.der" -CAfile "$work/token/ca.pem" \
      -out "$work/signed.txt" 2>/dev/null || fail "the signature does not verify"
    cmp -s "$work/signed.txt" "$work/text.txt" || fail "the signed text is not the page's"
    ;;
  old-key-control)
    install_old_trust
    start_old_key_server
    start_site
    agent_port=$(free_port)  # nothing there: the page stops at the first server that answers like an agent
    open_page "mode=sign&ports=$old_port,$agent_port&token=Vorlink%20Test&pin=$pin&text=$query_text"
    [ "$(field url)" = "https://localhost:$old_port/" ] || fail "the control did not reach the old-key server: $result"
    grep -q "ExecMethod=Login&Param1=$pin" "$work/old.log" || fail "the old-key server did not get the PIN"
    echo "control: with the old trust in place, the old-key server got: $(grep Login "$work/old.log")"
    ;;
  new-profile)
    [ "$browser" = firefox ] || fail "new-profile is a Firefox case"
    start_agent
    start_site
    # No Firefox existed when the agent started; the profile is made and
    # used at once, as a first start of Firefox does.
    make_quiet_firefox_profile "$exe" "$profile"
    open_page "mode=reach&ports=$agent_port&tries=30"
    [ "$(field url)" = "https://localhost:$agent_port/" ] || fail "the new profile never reached the agent: $result"
    [ "$(nicknames "$profile")" = "$ca_name" ] || fail "the profile trusts: $(nicknames "$profile")"
    echo "reached the agent $(field ms) ms after Firefox started"
    ;;
  *) fail "unknown case $case_name" ;;
esac
echo PASS
