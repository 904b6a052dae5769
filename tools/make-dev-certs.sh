#!/usr/bin/env bash
# Makes the development certificate authority and localhost server
# certificate, for tests, and writes the public parts under resources/ and
# the server key beside the tests:
#   resources/localhost.cert.der  server certificate, DER (compiled in as
#                                 resource 311: the manifest key's source)
#   tests/support/old-identity/localhost.key.der
#                                 its private key, DER PKCS#8 (tests read it
#                                 from the source tree; never compiled in)
#   resources/ORVA.crt            the CA certificate (compiled in to recognise
#                                 the trust earlier versions installed)
# The agent serves none of them: it makes each user's own identity.
# The CA's private key is made in a temporary folder and destroyed: nobody
# can issue further certificates under this CA.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/resources}"
key_out="${2:-$root/tests/support/old-identity}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
days=3650

cat >"$work/ca.cnf" <<'EOF'
[req]
distinguished_name = dn
prompt = no
[dn]
C = TW
O = Vorlink45 Development
CN = Vorlink45 Local CA
[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
EOF

cat >"$work/server.cnf" <<'EOF'
[req]
distinguished_name = dn
prompt = no
[dn]
C = TW
O = Vorlink45 Development
CN = localhost
[server_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth, clientAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF

openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/ca.key" 2>/dev/null
openssl req -new -x509 -sha256 -days "$days" -key "$work/ca.key" \
  -config "$work/ca.cnf" -extensions ca_ext -out "$work/ca.pem"

openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/server.key" 2>/dev/null
openssl req -new -sha256 -key "$work/server.key" -config "$work/server.cnf" -out "$work/server.csr"
openssl x509 -req -sha256 -days "$days" -in "$work/server.csr" \
  -CA "$work/ca.pem" -CAkey "$work/ca.key" -set_serial "0x$(openssl rand -hex 7)" \
  -extfile "$work/server.cnf" -extensions server_ext -out "$work/server.pem" 2>/dev/null

mkdir -p "$out" "$key_out"
openssl x509 -in "$work/server.pem" -outform DER -out "$out/localhost.cert.der"
openssl pkcs8 -topk8 -nocrypt -in "$work/server.key" -outform DER -out "$key_out/localhost.key.der"
cp "$work/ca.pem" "$out/ORVA.crt"
echo "wrote $out/localhost.cert.der, $out/ORVA.crt and $key_out/localhost.key.der"
