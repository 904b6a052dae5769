#!/usr/bin/env bash
# Prepares the demo software token once: a SoftHSM2 token "Vorlink Demo"
# in DIR with an RSA key and a certificate for it, and a random user PIN
# kept in DIR/PIN. Later runs only print where it is and its PIN.
#   scripts/demo-token.sh DIR
# The agent finds the token when SOFTHSM2_CONF=DIR/softhsm2.conf is in its
# environment: its default module, the p11-kit proxy, loads the system's
# SoftHSM2 module, which reads that variable. Nothing else on the machine
# is pointed at DIR.
set -euo pipefail
dir=$1
here=$(cd "$(dirname "$0")/.." && pwd)

if [ ! -s "$dir/PIN" ]; then
  # No PIN file: nothing made, or a run that stopped half way. Start over.
  rm -rf "$dir"
  mkdir -p "$dir"
  chmod 700 "$dir"
  pin=$(printf '%06d' "$(($(od -An -N4 -tu4 /dev/urandom) % 1000000))")
  "$here/tools/make-softhsm-token.sh" "$dir" "Vorlink Demo" "$pin" "$(od -An -N8 -tx8 /dev/urandom | tr -d ' ')" \
    "Vorlink Demo User"
  (umask 077 && printf '%s\n' "$pin" >"$dir/PIN")
fi
echo "Demo token \"Vorlink Demo\" (SoftHSM2) in $dir, PIN $(cat "$dir/PIN")."
echo "Remove it with: rm -rf '$dir'"
