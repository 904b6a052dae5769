#include "trust/override_entry.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>

#include "tls/tls_credentials.h"

namespace vorlink {
namespace {

std::string Fingerprint(std::span<const std::uint8_t> der) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(der.data(), der.size(), digest, &length, EVP_sha256(), nullptr);
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, i ? ":%02X" : "%02X", digest[i]);
    text += pair;
  }
  return text;
}

void AppendBigEndian32(std::vector<unsigned char>& out, std::size_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(value >> shift));
}

std::string Base64(const std::vector<unsigned char>& bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(), static_cast<int>(bytes.size()));
  text.resize(static_cast<std::size_t>(n));
  return text;
}

// The serial number's content octets: its DER encoding without tag and length.
std::vector<unsigned char> SerialContent(X509* cert) {
  const ASN1_INTEGER* serial = X509_get0_serialNumber(cert);
  unsigned char* der = nullptr;
  const int length = i2d_ASN1_INTEGER(serial, &der);
  std::vector<unsigned char> content;
  if (length > 2) {
    const unsigned char* p = der;
    long body = 0;
    int tag = 0, cls = 0;
    ASN1_get_object(&p, &body, &tag, &cls, length);
    content.assign(p, p + body);
  }
  OPENSSL_free(der);
  return content;
}

std::vector<unsigned char> IssuerDer(X509* cert) {
  unsigned char* der = nullptr;
  const int length = i2d_X509_NAME(X509_get_issuer_name(cert), &der);
  std::vector<unsigned char> bytes;
  if (length > 0) bytes.assign(der, der + length);
  OPENSSL_free(der);
  return bytes;
}

}  // namespace

std::optional<OverrideFields> ComputeOverrideFields(std::span<const std::uint8_t> certificate_der) {
  X509Ptr cert = ParseCertificateDer(certificate_der);
  if (!cert) return std::nullopt;
  const auto serial = SerialContent(cert.get());
  const auto issuer = IssuerDer(cert.get());
  std::vector<unsigned char> key(8, 0);  // module id and slot id
  AppendBigEndian32(key, serial.size());
  AppendBigEndian32(key, issuer.size());
  key.insert(key.end(), serial.begin(), serial.end());
  key.insert(key.end(), issuer.begin(), issuer.end());
  return OverrideFields{Fingerprint(certificate_der), Base64(key)};
}

std::string OverrideEntryLine(int port, const OverrideFields& fields) {
  return "localhost:" + std::to_string(port) + "\tOID.2.16.840.1.101.3.4.2.1\t" + fields.fingerprint + "\tU\t" +
         fields.database_key;
}

bool IsStaleOverrideLine(std::string_view line, const std::string& current_fingerprint,
                         const std::string& retired_fingerprint, const std::vector<int>& ports) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const auto tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  if (fields.size() < 3) return false;
  std::string_view fingerprint = fields[2];
  while (!fingerprint.empty() && (fingerprint.back() == '\r' || fingerprint.back() == ' '))
    fingerprint.remove_suffix(1);
  if (!retired_fingerprint.empty() && fingerprint == retired_fingerprint) return true;
  if (fingerprint == current_fingerprint) return false;
  for (const char* host : {"localhost:", "127.0.0.1:", "[::1]:"}) {
    if (!fields[0].starts_with(host)) continue;
    const std::string_view rest = fields[0].substr(std::string_view(host).size());
    const std::string_view port = rest.substr(0, rest.find(':'));
    for (int p : ports) {
      if (port == std::to_string(p)) return true;
    }
  }
  return false;
}

}  // namespace vorlink
