// The instance's secret key: EncryptData, DecryptData and MAC, checked
// against an independent AES-GCM and HMAC with the key unwrapped by a
// software recipient; and the refusals for missing keys and changed data.

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include "component_client.h"
#include "software_recipient.h"

namespace vorlink::test {
namespace {

enum Dispid {
  kGenSecretKey = 15,
  kEncryptData = 16,
  kDecryptData = 17,
  kEncryptSecretKey = 18,
  kEncrypted = 23,
  kDecrypted = 24,
  kWrappedKey = 25,
  kMac = 51,
  kMacData = 52,
  kEncryptSecretKeyOaep = 97
};
constexpr std::int32_t kBadArgument = 0x5005, kVerifyFailed = 0x5009, kNoData = 0x500D;

// AES-256-GCM over IV (12) | ciphertext | tag (16), outside the component.
std::optional<std::string> OpenMessage(const std::string& key, const std::string& message) {
  if (message.size() < 28) return std::nullopt;
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
  std::string tag = message.substr(message.size() - 16);
  std::string plain(message.size() - 28, '\0');
  int length = 0;
  unsigned char none[1];
  if (!EVP_DecryptInit_ex2(context.get(), EVP_aes_256_gcm(), reinterpret_cast<const unsigned char*>(key.data()), bytes,
                           nullptr) ||
      !EVP_DecryptUpdate(context.get(), reinterpret_cast<unsigned char*>(plain.data()), &length, bytes + 12,
                         static_cast<int>(plain.size())) ||
      !EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, 16, tag.data()) ||
      EVP_DecryptFinal_ex(context.get(), none, &length) != 1) {
    return std::nullopt;
  }
  return plain;
}

std::string HmacSha256(const std::string& key, const std::string& text) {
  unsigned char mac[32];
  size_t length = 0;
  EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, key.data(), key.size(),
            reinterpret_cast<const unsigned char*>(text.data()), text.size(), mac, sizeof(mac), &length);
  return std::string(reinterpret_cast<char*>(mac), length);
}

class SecretKeyMembers : public ::testing::Test {
 protected:
  std::string Encrypt(const std::string& text) {
    EXPECT_EQ(component_.Method(kEncryptData, {text}), 0) << component_.ErrorMessage();
    return component_.Text(kEncrypted);
  }
  // The secret key, unwrapped by a recipient outside the component.
  std::string UnwrappedKey(int wrap_dispid, bool oaep) {
    EXPECT_EQ(component_.Method(wrap_dispid, {recipient_.CertificateBase64()}), 0) << component_.ErrorMessage();
    return recipient_.Decrypt(FromBase64(component_.Text(kWrappedKey)), oaep).value_or("");
  }

  ComponentClient component_{P11CRYPTO_LIBRARY};
  static inline SoftwareRecipient recipient_;
};

TEST_F(SecretKeyMembers, EveryKeyMemberNeedsAKeyFirst) {
  for (int dispid : {kEncryptData, kDecryptData, kMac, kEncryptSecretKey, kEncryptSecretKeyOaep}) {
    EXPECT_EQ(component_.Method(dispid, {std::string("AAAA")}), kNoData) << dispid;
    EXPECT_NE(component_.ErrorMessage().find("genSecretKey"), std::string::npos) << dispid;
  }
  for (int read : {kEncrypted, kDecrypted, kWrappedKey, kMacData}) EXPECT_EQ(component_.Text(read), "") << read;
}

TEST_F(SecretKeyMembers, EncryptDataRoundTripsAndNeverRepeatsItself) {
  ASSERT_EQ(component_.Method(kGenSecretKey), 0);
  for (const std::string& text :
       {std::string(), std::string("a"), std::string("中華民國憑證管理中心"), std::string(100000, 'x')}) {
    const std::string first = Encrypt(text), second = Encrypt(text);
    EXPECT_NE(first, second) << "a fresh IV each time";
    EXPECT_EQ(FromBase64(first).size(), 12 + text.size() + 16);
    ASSERT_EQ(component_.Method(kDecryptData, {first}), 0) << component_.ErrorMessage();
    EXPECT_EQ(component_.Text(kDecrypted), text);
  }
}

TEST_F(SecretKeyMembers, MessagesAndMacsAreStandardAesGcmAndHmacSha256) {
  ASSERT_EQ(component_.Method(kGenSecretKey), 0);
  const std::string key = UnwrappedKey(kEncryptSecretKey, false);
  ASSERT_EQ(key.size(), 32u);
  EXPECT_EQ(UnwrappedKey(kEncryptSecretKeyOaep, true), key) << "both wrappings carry the same key";
  EXPECT_EQ(OpenMessage(key, FromBase64(Encrypt("憑證 data"))).value_or("?"), "憑證 data");
  for (const std::string& text : {std::string(), std::string("message")}) {
    ASSERT_EQ(component_.Method(kMac, {text}), 0);
    EXPECT_EQ(FromBase64(component_.Text(kMacData)), HmacSha256(key, text)) << text;
  }
  ASSERT_EQ(component_.Method(kGenSecretKey), 0);
  EXPECT_NE(UnwrappedKey(kEncryptSecretKey, false), key) << "genSecretKey replaces the key";
}

TEST_F(SecretKeyMembers, DecryptDataRefusesChangedShortOrForeignData) {
  ASSERT_EQ(component_.Method(kGenSecretKey), 0);
  const std::string message = FromBase64(Encrypt("pay 100 to Alice"));
  auto flipped = [&](size_t at) {
    std::string changed = message;
    changed[at] ^= 0x01;
    return ToBase64(changed);
  };
  const struct {
    std::string name, argument;
    std::int32_t code;
  } cases[] = {
      {"IV changed", flipped(0), kVerifyFailed},
      {"ciphertext changed", flipped(12), kVerifyFailed},
      {"tag changed", flipped(message.size() - 1), kVerifyFailed},
      {"cut short", ToBase64(message.substr(0, message.size() - 1)), kVerifyFailed},
      {"shorter than IV and tag", ToBase64(message.substr(0, 27)), kBadArgument},
      {"empty", "", kBadArgument},
      {"not Base64", "%%%", kBadArgument},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(component_.Method(kDecryptData, {c.argument}), c.code) << c.name;
    EXPECT_FALSE(component_.ErrorMessage().empty()) << c.name;
  }
  ASSERT_EQ(component_.Method(kGenSecretKey), 0);
  EXPECT_EQ(component_.Method(kDecryptData, {ToBase64(message)}), kVerifyFailed) << "another key";
}

}  // namespace
}  // namespace vorlink::test
