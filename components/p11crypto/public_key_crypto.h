#pragma once
// Certificates from the page's text and encryption to their RSA public
// keys, in software with OpenSSL's EVP interface.

#include <openssl/x509.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace p11crypto {

using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;

// A certificate as Base64 DER, or PEM; null when it is neither.
X509Ptr CertificateFromText(std::string_view text);
X509Ptr CertificateFromDer(std::string_view der);

enum class RsaPadding { kPkcs1, kOaepSha256 };  // OAEP: SHA-256 and MGF1 with SHA-256, no label

// nullopt when the certificate's key is not RSA or `plain` is too long for it.
std::optional<std::string> RsaEncrypt(X509* certificate, std::string_view plain, RsaPadding padding);

}  // namespace p11crypto
