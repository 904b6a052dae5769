// Deprecated OpenSSL calls, kept to this one file:
// - OpenSSL 3.0 offers no public way to read a recipient's encrypted key
//   out of a CMS envelope, nor to hand CMS an already decrypted content
//   key for a key-transport recipient. CMS_decrypt therefore has to be
//   given a key object that decrypts with the token. The current way to
//   make one is a whole provider (key management plus asymmetric cipher);
//   an RSA_METHOD whose private-decrypt hook calls the token does the same
//   in a few lines and leaves CMS its own defences against padding oracles.
// - Removing OAEP padding from a block that the token decrypted raw
//   (CKM_RSA_X_509) has no EVP form; RSA_padding_check_PKCS1_OAEP_mgf1 is
//   OpenSSL's constant-time check, safer than a second implementation.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "p11crypto/cms/legacy_rsa.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <vector>

namespace p11crypto {

struct DelegatedRsaKey::Method {
  RSA_METHOD* method = nullptr;
  const PrivateDecrypt* decrypt = nullptr;
  ~Method() { RSA_meth_free(method); }

  // The RSA_METHOD hook: CMS asks for PKCS#1 v1.5 only; the token does it.
  static int Hook(int length, const unsigned char* from, unsigned char* to, RSA* rsa, int padding) {
    const auto* self = static_cast<const Method*>(RSA_meth_get0_app_data(RSA_get_method(rsa)));
    if (!self || padding != RSA_PKCS1_PADDING || length < 0) return -1;
    std::string plain;
    if (!(*self->decrypt)({reinterpret_cast<const char*>(from), static_cast<size_t>(length)}, plain)) return -1;
    const int size = plain.size() <= static_cast<size_t>(RSA_size(rsa)) ? static_cast<int>(plain.size()) : -1;
    if (size >= 0) std::copy(plain.begin(), plain.end(), to);
    OPENSSL_cleanse(plain.data(), plain.size());
    return size;
  }
};

DelegatedRsaKey::DelegatedRsaKey(X509* certificate, const PrivateDecrypt& decrypt)
    : method_(std::make_unique<Method>()) {
  EVP_PKEY* public_key = X509_get0_pubkey(certificate);
  if (!public_key || !EVP_PKEY_is_a(public_key, "RSA")) return;
  BIGNUM* n = nullptr;
  BIGNUM* e = nullptr;
  method_->decrypt = &decrypt;
  method_->method = RSA_meth_dup(RSA_PKCS1_OpenSSL());
  RSA* rsa = RSA_new();
  EVP_PKEY* key = EVP_PKEY_new();
  const bool made = method_->method && rsa && key && EVP_PKEY_get_bn_param(public_key, OSSL_PKEY_PARAM_RSA_N, &n) &&
                    EVP_PKEY_get_bn_param(public_key, OSSL_PKEY_PARAM_RSA_E, &e) &&
                    RSA_meth_set0_app_data(method_->method, method_.get()) &&
                    RSA_meth_set_priv_dec(method_->method, &Method::Hook) && RSA_set0_key(rsa, n, e, nullptr);
  if (!made) {
    BN_free(n);
    BN_free(e);
  } else if (RSA_set_method(rsa, method_->method) && EVP_PKEY_assign_RSA(key, rsa)) {
    key_ = key;  // owns rsa now; a key with its own method is kept on OpenSSL's legacy path
    return;
  }
  RSA_free(rsa);
  EVP_PKEY_free(key);
}

DelegatedRsaKey::~DelegatedRsaKey() { EVP_PKEY_free(key_); }  // before the method it uses

std::optional<std::string> OaepSha256Decode(std::string_view block, size_t modulus_size) {
  if (block.size() > modulus_size || modulus_size > 2048) return std::nullopt;
  // The token may drop leading zero bytes; the check wants the whole block.
  std::vector<unsigned char> padded(modulus_size - block.size(), 0);
  padded.insert(padded.end(), block.begin(), block.end());
  std::vector<unsigned char> plain(modulus_size);
  const int length = RSA_padding_check_PKCS1_OAEP_mgf1(plain.data(), static_cast<int>(plain.size()), padded.data(),
                                                       static_cast<int>(padded.size()), static_cast<int>(modulus_size),
                                                       nullptr, 0, EVP_sha256(), EVP_sha256());
  if (length < 0) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(plain.data()), static_cast<size_t>(length));
}

}  // namespace p11crypto
