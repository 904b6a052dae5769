#!/usr/bin/env bash
# The real agent's TLS identity and browser trust, as a user gets them at
# the first start of this version:
#   upgrade  a home that trusts what earlier versions installed (ORVA_SSLCA
#            in ~/.pki/nssdb and in a Firefox profile, exception entries for
#            the old certificate) trusts only the user's own authority after
#            one start; the identity's files are the user's alone
#   tls      what openssl s_client sees: TLS 1.2 with ECDHE and AEAD suites
#            only, TLS 1.3, nothing older, no renegotiation; a certificate
#            for the three loopback names from an authority with critical
#            name constraints and path length 0
#   agent_identity_test.sh AGENT_BINARY SOURCE_DIR CASE
set -uo pipefail
. "$(dirname "$0")/../support/agent_test_lib.sh"
enter_private_network "$@"
agent=$1 src=$2 case_name=$3
work=$(mktemp -d)
agent_pid=""
cleanup() {
  [ -n "$agent_pid" ] && kill -TERM "$agent_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_STATE_HOME=$work/state QT_QPA_PLATFORM=offscreen
unset XDG_DATA_HOME XDG_CONFIG_HOME
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
fail() { echo "FAIL: $*"; cat "$XDG_STATE_HOME"/Vorlink/* 2>/dev/null | tail -n 20; exit 1; }
identity=$HOME/.local/share/vorlink/identity
nicknames() { certutil -L -d "sql:$1" 2>/dev/null | tail -n +5 | sed -E 's/ +[^ ]+$//' | sort; }

start_agent() {
  dbus-run-session -- "$agent" notray >"$work/agent.out" 2>&1 &
  local session=$!
  port=$(wait_for_agent_port)
  agent_pid=$(pgrep -P "$session" -x "$(basename "$agent")")
  [ -n "$port" ] || fail "the agent did not start"
}

case "$case_name" in
  upgrade)
    command -v certutil >/dev/null || { echo "SKIP: certutil is not installed"; exit 77; }
    old_ca=$src/resources/ORVA.crt
    old_fp=$(openssl x509 -inform DER -in "$src/resources/localhost.cert.der" -noout -fingerprint -sha256 | cut -d= -f2)
    profile=$HOME/.mozilla/firefox/old.default
    mkdir -p "$HOME/.pki/nssdb" "$profile"
    echo '{}' >"$profile/times.json"
    for db in "$HOME/.pki/nssdb" "$profile"; do
      certutil -N --empty-password -d "sql:$db" && certutil -A -d "sql:$db" -n ORVA_SSLCA -t CT,c,c -i "$old_ca" ||
        fail "could not lay out the old trust in $db"
    done
    {
      printf '# PSM Certificate Override Settings file\r\n# This is a generated file!  Do not edit.\r\n'
      for p in 48200 48201 48202; do printf 'localhost:%s\tOID.2.16.840.1.101.3.4.2.1\t%s\tU\tAAAA\r\n' "$p" "$old_fp"; done
      printf 'site.example:443\tOID.2.16.840.1.101.3.4.2.1\t00:11\tU\tBBBB\r\n'
    } >"$profile/cert_override.txt"

    start_agent
    ca_name=$(openssl x509 -in "$identity/ca.pem" -noout -subject -nameopt multiline | sed -n 's/^ *commonName *= //p')
    [[ $ca_name == "Vorlink45 Local CA "* ]] || fail "no user authority: '$ca_name'"
    for _ in $(seq 100); do
      [ "$(nicknames "$HOME/.pki/nssdb")" = "$ca_name" ] && [ "$(nicknames "$profile")" = "$ca_name" ] && break
      sleep 0.1
    done
    for db in "$HOME/.pki/nssdb" "$profile"; do
      [ "$(nicknames "$db")" = "$ca_name" ] || fail "$db trusts: $(nicknames "$db" | tr '\n' ';') (expected only $ca_name)"
      certutil -L -d "sql:$db" -n "$ca_name" -a | openssl x509 -noout -fingerprint -sha256 >"$work/imported"
      openssl x509 -in "$identity/ca.pem" -noout -fingerprint -sha256 | cmp -s - "$work/imported" ||
        fail "$db holds another certificate under $ca_name"
    done
    [ ! -e "$HOME/.local/share/pki" ] || fail "an XDG NSS database was made beside ~/.pki/nssdb"
    grep -q "$old_fp" "$profile/cert_override.txt" && fail "the old certificate's exception entries remain"
    grep -q 'site.example:443' "$profile/cert_override.txt" || fail "another site's entry was lost"
    new_fp=$(openssl x509 -in "$identity/server.pem" -noout -fingerprint -sha256 | cut -d= -f2)
    [ "$(grep -c "$new_fp" "$profile/cert_override.txt")" = 3 ] || fail "no entries for the served certificate"
    [ "$(stat -c %a "$identity")" = 700 ] || fail "identity folder mode $(stat -c %a "$identity")"
    [ "$(stat -c %a "$identity/server.key")" = 600 ] || fail "key mode $(stat -c %a "$identity/server.key")"
    [ "$(ls "$identity" | tr '\n' ' ')" = "ca.pem server.key server.pem " ] || fail "identity files: $(ls "$identity")"
    # The README's first command, as a user types it.
    answer=$(curl -s --max-time 10 --cacert ~/.local/share/vorlink/identity/ca.pem "https://localhost:$port/" -w '%{http_code}')
    [ "$answer" = 200 ] || fail "curl with the user's CA: $answer"
    ;;
  tls)
    start_agent
    allowed="ECDHE-ECDSA-AES128-GCM-SHA256 ECDHE-ECDSA-AES256-GCM-SHA384 ECDHE-ECDSA-CHACHA20-POLY1305"
    accepted=""
    for c in $(openssl ciphers 'ALL:COMPLEMENTOFALL:@SECLEVEL=0' | tr ':' ' '); do
      out=$(openssl s_client -connect "127.0.0.1:$port" -tls1_2 -cipher "$c:@SECLEVEL=0" </dev/null 2>/dev/null)
      got=$(sed -n 's/^ *Cipher *: *//p' <<<"$out" | head -n 1)
      [ -n "$got" ] && [ "$got" != "0000" ] && [ "$got" != "(NONE)" ] && accepted="$accepted $got"
    done
    [ "$(tr ' ' '\n' <<<"$accepted" | sort -u | xargs)" = "$(tr ' ' '\n' <<<"$allowed" | sort | xargs)" ] ||
      fail "TLS 1.2 suites accepted:$accepted"
    for s in TLS_AES_128_GCM_SHA256 TLS_AES_256_GCM_SHA384 TLS_CHACHA20_POLY1305_SHA256; do
      openssl s_client -connect "127.0.0.1:$port" -tls1_3 -ciphersuites "$s" </dev/null 2>/dev/null |
        grep -q "Cipher is $s" || fail "TLS 1.3 $s refused"
    done
    for v in -tls1 -tls1_1; do
      openssl s_client -connect "127.0.0.1:$port" "$v" -cipher 'ALL:@SECLEVEL=0' </dev/null 2>/dev/null |
        grep -q 'Cipher is' && fail "$v accepted"
    done
    reneg=$( (sleep 1; echo R; sleep 2) | openssl s_client -connect "127.0.0.1:$port" -tls1_2 2>&1)
    grep -q 'RENEGOTIATING' <<<"$reneg" || fail "s_client did not ask to renegotiate"
    grep -q 'no renegotiation' <<<"$reneg" || fail "renegotiation was not refused: $(tail -n 3 <<<"$reneg")"
    for name in localhost 127.0.0.1 ::1; do
      if [ "$name" = localhost ]; then check=(-verify_hostname localhost); else check=(-verify_ip "$name"); fi
      host=127.0.0.1
      [ "$name" = ::1 ] && host='[::1]'
      openssl s_client -connect "$host:$port" -CAfile "$identity/ca.pem" -verify_return_error "${check[@]}" \
        </dev/null >"$work/s_client.out" 2>&1
      grep -q 'Verify return code: 0 (ok)' "$work/s_client.out" || fail "$name: $(grep Verify "$work/s_client.out")"
    done
    openssl s_client -connect "127.0.0.1:$port" -showcerts </dev/null 2>/dev/null |
      openssl x509 -noout -ext subjectAltName >"$work/san"
    grep -q 'DNS:localhost, IP Address:127.0.0.1, IP Address:0:0:0:0:0:0:0:1' "$work/san" || fail "SAN: $(cat "$work/san")"
    openssl x509 -in "$identity/ca.pem" -noout -ext nameConstraints,basicConstraints >"$work/ca"
    grep -q 'Name Constraints: critical' "$work/ca" || fail "CA: $(cat "$work/ca")"
    grep -q 'CA:TRUE, pathlen:0' "$work/ca" || fail "CA: $(cat "$work/ca")"
    ;;
  *) fail "unknown case $case_name" ;;
esac
echo PASS
