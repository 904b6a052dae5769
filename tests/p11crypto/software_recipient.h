#pragma once
// A certificate and private key made in the test, outside any token: a
// recipient the tests can decrypt for, to check what the component
// produced with an independent implementation.

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <optional>
#include <string>

namespace vorlink::test {

std::string ToBase64(const std::string& bytes);
std::string FromBase64(const std::string& base64);  // empty on bad input
// The Base64 body of a PEM certificate: its DER in Base64.
std::string PemBody(const std::string& pem);

// RSA PKCS#1 v1.5 encryption to a PEM certificate's key.
std::string EncryptToCertificate(const std::string& pem, const std::string& plain);

class SoftwareRecipient {
 public:
  SoftwareRecipient();  // a fresh RSA-2048 key and a self-signed certificate
  ~SoftwareRecipient();
  SoftwareRecipient(const SoftwareRecipient&) = delete;
  SoftwareRecipient& operator=(const SoftwareRecipient&) = delete;

  std::string CertificateBase64() const;
  // RSA decryption with PKCS#1 v1.5, or OAEP with SHA-256 and MGF1-SHA-256.
  std::optional<std::string> Decrypt(const std::string& encrypted, bool oaep) const;
  // Opens a CMS EnvelopedData addressed to this recipient.
  std::optional<std::string> OpenEnvelope(const std::string& der) const;

 private:
  EVP_PKEY* key_ = nullptr;
  X509* certificate_ = nullptr;
};

}  // namespace vorlink::test
