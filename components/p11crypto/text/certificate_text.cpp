#include "p11crypto/text/certificate_text.h"

#include <openssl/pem.h>

#include <ctime>

#include "p11crypto/text/base64.h"

namespace p11crypto {
namespace {

std::string NameText(const X509_NAME* name) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(size));
}

std::string CommonName(const X509_NAME* name) {
  const int at = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
  if (at < 0) return {};
  unsigned char* utf8 = nullptr;
  const int size = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at)));
  if (size < 0) return {};
  std::string text(reinterpret_cast<char*>(utf8), static_cast<size_t>(size));
  OPENSSL_free(utf8);
  return text;
}

std::string TimeText(const ASN1_TIME* time) {
  std::tm tm{};
  if (!time || ASN1_TIME_to_tm(time, &tm) != 1) return {};
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

std::string SerialText(const ASN1_INTEGER* serial) {
  BIGNUM* number = ASN1_INTEGER_to_BN(serial, nullptr);
  if (!number) return {};
  char* hex = BN_bn2hex(number);
  std::string text = hex ? hex : "";
  OPENSSL_free(hex);
  BN_free(number);
  return text;
}

}  // namespace

X509Ptr ParseCertificate(const std::vector<std::uint8_t>& der) {
  const unsigned char* p = der.data();
  X509Ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  if (certificate && p != der.data() + der.size()) return nullptr;  // trailing bytes
  return certificate;
}

X509Ptr ParseCertificateText(const std::string& text) {
  if (text.find("-----BEGIN") != std::string::npos) {
    BioPtr bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
    return X509Ptr(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  }
  const auto der = Base64Decode(text);
  return der ? ParseCertificate(*der) : nullptr;
}

CertificateText DescribeCertificate(X509* certificate) {
  CertificateText text;
  text.version = static_cast<std::int32_t>(X509_get_version(certificate) + 1);
  text.serial = SerialText(X509_get0_serialNumber(certificate));
  text.issuer = NameText(X509_get_issuer_name(certificate));
  text.subject = NameText(X509_get_subject_name(certificate));
  text.common_name = CommonName(X509_get_subject_name(certificate));
  text.not_before = TimeText(X509_get0_notBefore(certificate));
  text.not_after = TimeText(X509_get0_notAfter(certificate));
  unsigned char* der = nullptr;
  const int size = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
  if (size > 0) text.public_key = Base64Encode(der, static_cast<size_t>(size));
  OPENSSL_free(der);
  return text;
}

std::vector<std::uint8_t> CertificateDer(X509* certificate) {
  unsigned char* der = nullptr;
  const int size = i2d_X509(certificate, &der);
  std::vector<std::uint8_t> bytes;
  if (size > 0) bytes.assign(der, der + size);
  OPENSSL_free(der);
  return bytes;
}

}  // namespace p11crypto
