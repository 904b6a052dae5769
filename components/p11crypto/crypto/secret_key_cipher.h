#pragma once
// AES-256-GCM with the instance's secret key. A message (EncryptData's
// bytes before Base64, and encFile's file as it is) is laid out as
//   IV (12 random bytes) | ciphertext (as long as the plain text) | tag (16)
// with no associated data. Both directions run chunk by chunk, so a file
// of any size goes through in flat memory; decryption holds back the last
// 16 bytes it has seen, since they may be the tag.

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "p11crypto/files/file_transform.h"

namespace p11crypto {

inline constexpr size_t kSecretKeySize = 32, kGcmIvSize = 12, kGcmTagSize = 16;

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

class SecretKeyEncryptor : public FileTransform {
 public:
  explicit SecretKeyEncryptor(const std::vector<std::uint8_t>& key);
  bool Update(std::string_view in, std::string& out) override;
  bool Final(std::string& out) override;

 private:
  bool Start(std::string& out);
  const std::vector<std::uint8_t>& key_;
  CipherContext context_;
  bool started_ = false;
};

// Fails with kBadArgument for input too short to be a message, and with
// kVerifyFailed when the tag does not match: the ciphertext was changed,
// or made with another key. Plain text it has already handed out is then
// not to be trusted (the file members discard it).
class SecretKeyDecryptor : public FileTransform {
 public:
  explicit SecretKeyDecryptor(const std::vector<std::uint8_t>& key);
  bool Update(std::string_view in, std::string& out) override;
  bool Final(std::string& out) override;

 private:
  bool Failed(std::int32_t failure, const char* words);
  const std::vector<std::uint8_t>& key_;
  CipherContext context_;
  std::string pending_;  // the IV until it is complete, then the last 16 bytes seen
  bool started_ = false;
};

// The whole message at once, for the text members.
bool RunWhole(FileTransform& transform, std::string_view in, std::string& out);

}  // namespace p11crypto
