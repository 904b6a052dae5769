#pragma once
// Encryption to a certificate's RSA public key, in software with OpenSSL's
// EVP interface.

#include <openssl/x509.h>

#include <optional>
#include <string>
#include <string_view>

namespace p11crypto {

enum class RsaPadding { kPkcs1, kOaepSha256 };  // OAEP: SHA-256 and MGF1 with SHA-256, no label

// nullopt when the certificate's key is not RSA or `plain` is too long for it.
std::optional<std::string> RsaEncrypt(X509* certificate, std::string_view plain, RsaPadding padding);

}  // namespace p11crypto
