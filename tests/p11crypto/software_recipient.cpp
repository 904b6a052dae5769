#include "software_recipient.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <memory>

namespace vorlink::test {

std::string ToBase64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int length =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                      reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(length));
  return out;
}

std::string FromBase64(const std::string& base64) {
  std::string out(base64.size() / 4 * 3 + 3, '\0');
  const int length =
      EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                      reinterpret_cast<const unsigned char*>(base64.data()), static_cast<int>(base64.size()));
  if (length < 0) return {};
  out.resize(static_cast<size_t>(length));
  for (auto pad = base64.rbegin(); pad != base64.rend() && *pad == '='; ++pad) out.pop_back();
  return out;
}

std::string PemBody(const std::string& pem) {
  std::string body;
  size_t at = pem.find('\n') + 1;
  for (size_t end; (end = pem.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = pem.substr(at, end - at);
    if (line.rfind("-----", 0) == 0) break;
    body += line;
  }
  return body;
}

std::string EncryptToCertificate(const std::string& pem, const std::string& plain) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
  std::unique_ptr<X509, decltype(&X509_free)> certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr),
                                                          X509_free);
  if (!certificate) return {};
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
      EVP_PKEY_CTX_new(X509_get0_pubkey(certificate.get()), nullptr), EVP_PKEY_CTX_free);
  std::string out(512, '\0');
  size_t length = out.size();
  if (EVP_PKEY_encrypt_init(context.get()) <= 0 ||
      EVP_PKEY_encrypt(context.get(), reinterpret_cast<unsigned char*>(out.data()), &length,
                       reinterpret_cast<const unsigned char*>(plain.data()), plain.size()) <= 0) {
    return {};
  }
  out.resize(length);
  return out;
}

SoftwareRecipient::SoftwareRecipient() {
  key_ = EVP_RSA_gen(2048);
  certificate_ = X509_new();
  X509_set_version(certificate_, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate_), 7);
  X509_gmtime_adj(X509_getm_notBefore(certificate_), 0);
  X509_gmtime_adj(X509_getm_notAfter(certificate_), 3600);
  X509_NAME* name = X509_get_subject_name(certificate_);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Software Recipient"),
                             -1, -1, 0);
  X509_set_issuer_name(certificate_, name);
  X509_set_pubkey(certificate_, key_);
  X509_sign(certificate_, key_, EVP_sha256());
}

SoftwareRecipient::~SoftwareRecipient() {
  X509_free(certificate_);
  EVP_PKEY_free(key_);
}

std::string SoftwareRecipient::CertificateBase64() const {
  unsigned char* der = nullptr;
  const int length = i2d_X509(certificate_, &der);
  std::string text(reinterpret_cast<char*>(der), static_cast<size_t>(length));
  OPENSSL_free(der);
  return ToBase64(text);
}

std::optional<std::string> SoftwareRecipient::Decrypt(const std::string& encrypted, bool oaep) const {
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(EVP_PKEY_CTX_new(key_, nullptr),
                                                                      EVP_PKEY_CTX_free);
  if (EVP_PKEY_decrypt_init(context.get()) <= 0 ||
      EVP_PKEY_CTX_set_rsa_padding(context.get(), oaep ? RSA_PKCS1_OAEP_PADDING : RSA_PKCS1_PADDING) <= 0) {
    return std::nullopt;
  }
  if (oaep && (EVP_PKEY_CTX_set_rsa_oaep_md(context.get(), EVP_sha256()) <= 0 ||
               EVP_PKEY_CTX_set_rsa_mgf1_md(context.get(), EVP_sha256()) <= 0)) {
    return std::nullopt;
  }
  std::string plain(512, '\0');
  size_t length = plain.size();
  if (EVP_PKEY_decrypt(context.get(), reinterpret_cast<unsigned char*>(plain.data()), &length,
                       reinterpret_cast<const unsigned char*>(encrypted.data()), encrypted.size()) <= 0) {
    return std::nullopt;
  }
  plain.resize(length);
  return plain;
}

std::optional<std::string> SoftwareRecipient::OpenEnvelope(const std::string& der) const {
  const auto* at = reinterpret_cast<const unsigned char*>(der.data());
  std::unique_ptr<CMS_ContentInfo, decltype(&CMS_ContentInfo_free)> cms(
      d2i_CMS_ContentInfo(nullptr, &at, static_cast<long>(der.size())), CMS_ContentInfo_free);
  std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
  if (!cms || CMS_decrypt(cms.get(), key_, certificate_, nullptr, out.get(), CMS_BINARY) != 1) return std::nullopt;
  char* data = nullptr;
  const long size = BIO_get_mem_data(out.get(), &data);
  return std::string(data, static_cast<size_t>(size));
}

}  // namespace vorlink::test
