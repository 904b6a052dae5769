#include "tls/tls_credentials.h"

#include <openssl/bio.h>

namespace vorlink {

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
  SSL_CTX_set_options(&ctx, SSL_OP_ALL | SSL_OP_NO_SSLv2 | SSL_OP_NO_SSLv3 | SSL_OP_NO_COMPRESSION |
                                SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION);
  // Browsers have not offered anything older for years; refuse it outright.
  SSL_CTX_set_min_proto_version(&ctx, TLS1_2_VERSION);
  if (certificate == nullptr || key == nullptr) return false;
  return SSL_CTX_use_certificate(&ctx, certificate) == 1 && SSL_CTX_use_PrivateKey(&ctx, key) == 1;
}

}  // namespace vorlink
