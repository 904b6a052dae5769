#include "p11crypto/crypto/secret_key_cipher.h"

#include <openssl/rand.h>

namespace p11crypto {
namespace {

const unsigned char* Bytes(std::string_view text) { return reinterpret_cast<const unsigned char*>(text.data()); }

// Runs the cipher over `in`, appending to `out`, in slices that fit an int.
// GCM output is as long as its input.
bool CipherUpdate(EVP_CIPHER_CTX* context, std::string_view in, std::string& out) {
  constexpr size_t kSlice = 1 << 30;
  for (size_t at = 0; at < in.size(); at += kSlice) {
    const std::string_view slice = in.substr(at, kSlice);
    const size_t end = out.size();
    out.resize(end + slice.size());
    int length = 0;
    if (!EVP_CipherUpdate(context, reinterpret_cast<unsigned char*>(out.data() + end), &length, Bytes(slice),
                          static_cast<int>(slice.size()))) {
      return false;
    }
    out.resize(end + static_cast<size_t>(length));
  }
  return true;
}

}  // namespace

SecretKeyEncryptor::SecretKeyEncryptor(const std::vector<std::uint8_t>& key)
    : key_(key), context_(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free) {}

bool SecretKeyEncryptor::Start(std::string& out) {
  unsigned char iv[kGcmIvSize];
  if (!context_ || key_.size() != kSecretKeySize || RAND_bytes(iv, sizeof(iv)) != 1 ||
      !EVP_EncryptInit_ex2(context_.get(), EVP_aes_256_gcm(), key_.data(), iv, nullptr)) {
    code = kCryptoFailed, message = "AES-256-GCM could not start";
    return false;
  }
  out.append(reinterpret_cast<char*>(iv), sizeof(iv));
  return started_ = true;
}

bool SecretKeyEncryptor::Update(std::string_view in, std::string& out) {
  if (!started_ && !Start(out)) return false;
  if (CipherUpdate(context_.get(), in, out)) return true;
  code = kCryptoFailed, message = "AES-256-GCM encryption failed";
  return false;
}

bool SecretKeyEncryptor::Final(std::string& out) {
  if (!started_ && !Start(out)) return false;
  unsigned char tag[kGcmTagSize];
  int length = 0;
  if (!EVP_EncryptFinal_ex(context_.get(), tag, &length) ||
      !EVP_CIPHER_CTX_ctrl(context_.get(), EVP_CTRL_GCM_GET_TAG, sizeof(tag), tag)) {
    code = kCryptoFailed, message = "AES-256-GCM encryption failed";
    return false;
  }
  out.append(reinterpret_cast<char*>(tag), sizeof(tag));
  return true;
}

SecretKeyDecryptor::SecretKeyDecryptor(const std::vector<std::uint8_t>& key)
    : key_(key), context_(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free) {}

bool SecretKeyDecryptor::Failed(std::int32_t failure, const char* words) {
  code = failure;
  message = words;
  return false;
}

bool SecretKeyDecryptor::Update(std::string_view in, std::string& out) {
  pending_.append(in);
  if (!started_) {
    if (pending_.size() < kGcmIvSize) return true;
    if (!context_ || key_.size() != kSecretKeySize ||
        !EVP_DecryptInit_ex2(context_.get(), EVP_aes_256_gcm(), key_.data(), Bytes(pending_), nullptr)) {
      return Failed(kCryptoFailed, "AES-256-GCM could not start");
    }
    pending_.erase(0, kGcmIvSize);
    started_ = true;
  }
  if (pending_.size() <= kGcmTagSize) return true;
  const size_t ready = pending_.size() - kGcmTagSize;
  if (!CipherUpdate(context_.get(), std::string_view(pending_).substr(0, ready), out)) {
    return Failed(kCryptoFailed, "AES-256-GCM decryption failed");
  }
  pending_.erase(0, ready);
  return true;
}

bool SecretKeyDecryptor::Final(std::string&) {
  if (!started_ || pending_.size() < kGcmTagSize) {
    return Failed(kBadArgument, "too short to be data encrypted with the secret key");
  }
  int length = 0;
  unsigned char none[1];
  if (!EVP_CIPHER_CTX_ctrl(context_.get(), EVP_CTRL_GCM_SET_TAG, kGcmTagSize, pending_.data()) ||
      EVP_DecryptFinal_ex(context_.get(), none, &length) != 1) {
    return Failed(kVerifyFailed, "the data was changed or encrypted with another key");
  }
  return true;
}

bool RunWhole(FileTransform& transform, std::string_view in, std::string& out) {
  return transform.Update(in, out) && transform.Final(out);
}

}  // namespace p11crypto
