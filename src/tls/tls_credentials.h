#pragma once
// Certificate and key objects, parsed from DER bytes, and the TLS context
// settings the agent serves with.

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <span>

namespace vorlink {

struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct EvpPkeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;

// One DER X.509 certificate; nullptr when the bytes are not one.
X509Ptr ParseCertificateDer(std::span<const std::uint8_t> der);
// One DER private key of any type OpenSSL recognises (PKCS#8 included).
EvpPkeyPtr ParsePrivateKeyDer(std::span<const std::uint8_t> der);

// Sets the agent's TLS options (TLS 1.2 with ECDHE and AEAD suites only,
// TLS 1.3, no renegotiation), certificate and key on a fresh context.
// False when the context refuses either (for example a key that does not
// belong to the certificate).
bool ConfigureServerContext(SSL_CTX& ctx, X509* certificate, EVP_PKEY* key);

}  // namespace vorlink
