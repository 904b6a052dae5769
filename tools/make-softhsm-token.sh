#!/usr/bin/env bash
# Makes a SoftHSM2 software token holding an RSA-2048 key and a certificate
# for it (same CKA_ID 01), issued by a throw-away certificate authority.
#   tools/make-softhsm-token.sh DIR [LABEL] [PIN] [SO_PIN] [COMMON_NAME]
# Writes DIR/softhsm2.conf (point SOFTHSM2_CONF at it), DIR/tokens/,
# DIR/ca.pem (the authority) and DIR/user.pem (the token's certificate).
# The private key never stays on disk: it is removed once on the token.
set -euo pipefail
dir=$1
label=${2:-Vorlink Demo}
pin=${3:-123456}
so_pin=${4:-12345678}
common_name=${5:-Vorlink Demo User}
module=/usr/lib/softhsm/libsofthsm2.so

mkdir -p "$dir/tokens"
dir=$(cd "$dir" && pwd)
cat >"$dir/softhsm2.conf" <<CONF
directories.tokendir = $dir/tokens
objectstore.backend = file
log.level = ERROR
slots.removable = false
CONF
export SOFTHSM2_CONF=$dir/softhsm2.conf

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -out "$dir/ca.pem" -days 3650 \
  -subj "/O=Vorlink Test/CN=Vorlink Test CA" -addext basicConstraints=critical,CA:TRUE \
  -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/user.key" 2>/dev/null
openssl req -new -key "$work/user.key" -subj "/C=TW/O=Vorlink Test/CN=$common_name" -out "$work/user.csr"
openssl x509 -req -in "$work/user.csr" -CA "$dir/ca.pem" -CAkey "$work/ca.key" -CAcreateserial -days 825 \
  -extfile <(printf 'keyUsage=critical,digitalSignature,nonRepudiation,keyEncipherment\nextendedKeyUsage=emailProtection,clientAuth\n') \
  -out "$dir/user.pem" 2>/dev/null
openssl x509 -in "$dir/user.pem" -outform DER -out "$work/user.der"

softhsm2-util --init-token --free --label "$label" --so-pin "$so_pin" --pin "$pin" >/dev/null
softhsm2-util --import "$work/user.key" --token "$label" --label user --id 01 --pin "$pin" >/dev/null
pkcs11-tool --module "$module" --token-label "$label" --login --pin "$pin" \
  --write-object "$work/user.der" --type cert --id 01 --label user >/dev/null 2>&1
