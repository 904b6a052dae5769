#pragma once
// The two RSA jobs for which OpenSSL 3.0 has no current interface: an RSA
// key whose private half stays on the token (for CMS_decrypt), and OAEP
// decoding of a block the token decrypted without padding. Both live in
// legacy_rsa.cpp, the component's only user of deprecated OpenSSL calls.

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace p11crypto {

// Decrypts one PKCS#1 v1.5 block with the private key; false on any failure.
using PrivateDecrypt = std::function<bool(std::string_view encrypted, std::string& plain)>;

// An RSA EVP_PKEY with the public key of `certificate` whose private
// decryption calls `decrypt` (which must outlive the key).
class DelegatedRsaKey {
 public:
  DelegatedRsaKey(X509* certificate, const PrivateDecrypt& decrypt);
  ~DelegatedRsaKey();
  DelegatedRsaKey(const DelegatedRsaKey&) = delete;
  DelegatedRsaKey& operator=(const DelegatedRsaKey&) = delete;

  EVP_PKEY* get() const { return key_; }  // null when the certificate's key is not RSA

 private:
  struct Method;
  std::unique_ptr<Method> method_;
  EVP_PKEY* key_ = nullptr;
};

// Removes OAEP padding (SHA-256, MGF1 with SHA-256, no label) from a raw
// RSA block of `modulus_size` bytes, in constant time; nullopt when the
// padding is wrong, with no hint of where.
std::optional<std::string> OaepSha256Decode(std::string_view block, size_t modulus_size);

}  // namespace p11crypto
