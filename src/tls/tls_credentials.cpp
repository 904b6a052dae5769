#include "tls/tls_credentials.h"

#include <openssl/bio.h>

namespace vorlink {
namespace {

// TLS 1.2 suites: ECDHE key exchange (forward secrecy) with AEAD ciphers
// only, for either key type; no static RSA, no CBC. TLS 1.3 keeps the
// library's own list (AES-GCM and ChaCha20-Poly1305), which is all AEAD.
constexpr const char* kTls12Suites =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:"
    "ECDHE-RSA-AES128-GCM-SHA256:ECDHE-RSA-AES256-GCM-SHA384:ECDHE-RSA-CHACHA20-POLY1305";

}  // namespace

X509Ptr ParseCertificateDer(std::span<const std::uint8_t> der) {
  if (der.empty()) return nullptr;
  const unsigned char* p = der.data();
  X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  return cert;
}

EvpPkeyPtr ParsePrivateKeyDer(std::span<const std::uint8_t> der) {
  if (der.empty()) return nullptr;
  const unsigned char* p = der.data();
  return EvpPkeyPtr(d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(der.size())));
}

bool ConfigureServerContext(SSL_CTX& ctx, X509* certificate, EVP_PKEY* key) {
  // No renegotiation in either direction, no compression (CRIME), and the
  // server's order of suites.
  SSL_CTX_set_options(&ctx,
                      SSL_OP_ALL | SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
  // Browsers have not offered anything older for years; refuse it outright.
  SSL_CTX_set_min_proto_version(&ctx, TLS1_2_VERSION);
  if (SSL_CTX_set_cipher_list(&ctx, kTls12Suites) != 1) return false;
  if (certificate == nullptr || key == nullptr) return false;
  return SSL_CTX_use_certificate(&ctx, certificate) == 1 && SSL_CTX_use_PrivateKey(&ctx, key) == 1;
}

}  // namespace vorlink
