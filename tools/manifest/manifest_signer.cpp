#include "manifest_signer.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "component/manifest_format.h"
#include "component/module_verifier.h"

namespace vorlink::manifest {
namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CtxFree {
  void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};

std::string Hex(const unsigned char* bytes, std::size_t n) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

}  // namespace

std::string ManifestText(const SignRequest& request) {
  unsigned char key[EVP_MAX_MD_SIZE];
  unsigned int key_length = 0;
  EVP_Digest(request.server_certificate_der.data(), request.server_certificate_der.size(), key, &key_length,
             EVP_sha256(), nullptr);
  std::string text;
  for (const auto& name : request.files) {
    const auto path = request.base / name;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    const auto digest = KeyedFileDigest({key, key_length}, path);
    if (ec || digest.empty()) throw std::runtime_error("cannot read " + path.string());
    if (!text.empty()) text += "\r\n";
    text += name + "=" + Hex(digest.data(), digest.size()) + "." + std::to_string(size);
  }
  return text;
}

std::string SignManifestText(const std::string& text, const std::string& private_key_pem) {
  BIO* bio = BIO_new_mem_buf(private_key_pem.data(), static_cast<int>(private_key_pem.size()));
  std::unique_ptr<EVP_PKEY, PkeyFree> key(PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr));
  BIO_free(bio);
  if (!key) throw std::runtime_error("not a PEM private key");
  if (EVP_PKEY_get_size(key.get()) != static_cast<int>(kManifestBlockSize)) {
    throw std::runtime_error("the manifest key must be RSA 2048");
  }
  std::unique_ptr<EVP_PKEY_CTX, CtxFree> ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
  if (!ctx || EVP_PKEY_sign_init(ctx.get()) <= 0 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) <= 0) {
    throw std::runtime_error("cannot use the key for raw RSA");
  }
  std::string padded = text;
  padded.resize((text.size() / kManifestBlockSize + 1) * kManifestBlockSize, '\0');
  std::string hex;
  for (std::size_t offset = 0; offset < padded.size(); offset += kManifestBlockSize) {
    unsigned char block[kManifestBlockSize];
    std::size_t length = sizeof block;
    if (EVP_PKEY_sign(ctx.get(), block, &length, reinterpret_cast<const unsigned char*>(padded.data()) + offset,
                      kManifestBlockSize) <= 0) {
      throw std::runtime_error("a manifest block cannot be signed (text bytes must be below 0x80)");
    }
    hex += Hex(block, length);
  }
  return hex;
}

}  // namespace vorlink::manifest
