#pragma once
// A certificate in the words pages read: names as RFC 2253 text (UTF-8),
// times as ISO 8601 UTC, the serial in upper-case hex.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "p11crypto/crypto/openssl_ptr.h"

namespace p11crypto {

struct CertificateText {
  std::int32_t version = 0;  // 1, 2 or 3
  std::string serial;        // "291393A279D5..."
  std::string issuer;        // "CN=Vorlink Test CA,O=Vorlink Test"
  std::string subject;
  std::string common_name;  // the subject's CN, empty when it has none
  std::string not_before;   // "2026-12-09T05:17:58Z"
  std::string not_after;
  std::string public_key;  // Base64 DER SubjectPublicKeyInfo
};

X509Ptr ParseCertificate(const std::vector<std::uint8_t>& der);
// DER, or Base64 of DER, or PEM text.
X509Ptr ParseCertificateText(const std::string& text);
CertificateText DescribeCertificate(X509* certificate);
std::vector<std::uint8_t> CertificateDer(X509* certificate);

}  // namespace p11crypto
