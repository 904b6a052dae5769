#include "p11crypto/crypto/public_key_crypto.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <memory>

namespace p11crypto {

std::optional<std::string> RsaEncrypt(X509* certificate, std::string_view plain, RsaPadding padding) {
  EVP_PKEY* key = X509_get0_pubkey(certificate);
  if (!key || !EVP_PKEY_is_a(key, "RSA")) return std::nullopt;
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr),
                                                                      EVP_PKEY_CTX_free);
  if (!context || EVP_PKEY_encrypt_init(context.get()) <= 0) return std::nullopt;
  const bool oaep = padding == RsaPadding::kOaepSha256;
  if (EVP_PKEY_CTX_set_rsa_padding(context.get(), oaep ? RSA_PKCS1_OAEP_PADDING : RSA_PKCS1_PADDING) <= 0) {
    return std::nullopt;
  }
  if (oaep && (EVP_PKEY_CTX_set_rsa_oaep_md(context.get(), EVP_sha256()) <= 0 ||
               EVP_PKEY_CTX_set_rsa_mgf1_md(context.get(), EVP_sha256()) <= 0)) {
    return std::nullopt;
  }
  const auto* in = reinterpret_cast<const unsigned char*>(plain.data());
  size_t length = 0;
  if (EVP_PKEY_encrypt(context.get(), nullptr, &length, in, plain.size()) <= 0) return std::nullopt;
  std::string out(length, '\0');
  if (EVP_PKEY_encrypt(context.get(), reinterpret_cast<unsigned char*>(out.data()), &length, in, plain.size()) <= 0) {
    return std::nullopt;
  }
  out.resize(length);
  return out;
}

}  // namespace p11crypto
