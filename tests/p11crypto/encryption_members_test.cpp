// Envelopes and key wrapping with the private key on a SoftHSM2 token.

#include <gtest/gtest.h>

#include "component_client.h"
#include "software_recipient.h"
#include "support/test_paths.h"
#include "test_token.h"

namespace vorlink::test {
namespace {

enum Dispid {
  kInitialize = 1,
  kSelect = 4,
  kLogin = 5,
  kGenSecretKey = 15,
  kEncryptData = 16,
  kDecryptData = 17,
  kEncryptSecretKey = 18,
  kDecryptSecretKey = 19,
  kEncrypted = 23,
  kDecrypted = 24,
  kWrappedKey = 25,
  kPkcs7Encrypt = 58,
  kEnvelope = 59,
  kPkcs7Decrypt = 60,
  kOpened = 61,
  kEncryptSecretKeyOaep = 97,
  kDecryptSecretKeyOaep = 98
};
constexpr std::int32_t kNotInitialized = 0x5001, kBadArgument = 0x5005, kKeyNotFound = 0x5007, kCryptoFailed = 0x5008;

class EncryptionMembers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(SharedTestToken(), nullptr);
    user_pem_ = ReadFileText(SharedTestToken()->user_pem());
    ca_pem_ = ReadFileText(SharedTestToken()->ca_pem());
    ASSERT_EQ(component_.Method(kInitialize, {std::string(kSoftHsmModuleName)}), 0);
    ASSERT_EQ(component_.Method(kSelect, {std::string(kTokenLabel)}), 0);
  }
  void Login() { ASSERT_EQ(component_.Method(kLogin, {std::string(kUserPin)}), 0); }
  std::string Seal(const std::string& content, const std::string& recipient) {
    EXPECT_EQ(component_.Method(kPkcs7Encrypt, {content, recipient}), 0) << component_.ErrorMessage();
    return component_.Text(kEnvelope);
  }
  std::string Result(int dispid, const std::vector<Argument>& args, int read) {
    EXPECT_EQ(component_.Method(dispid, args), 0) << dispid << ": " << component_.ErrorMessage();
    return component_.Text(read);
  }

  ComponentClient component_{P11CRYPTO_LIBRARY};
  std::string user_pem_, ca_pem_;
};

TEST_F(EncryptionMembers, EnvelopesOpenOnTheTokenForEveryWayOfNamingItsCertificate) {
  Login();
  const std::string recipients[] = {"", PemBody(user_pem_), user_pem_};  // chosen, Base64 DER, PEM
  for (const std::string& content :
       {std::string(), std::string("hello"), std::string("中華民國憑證管理中心"), std::string(5000, 'z')}) {
    for (const std::string& recipient : recipients) {
      const std::string envelope = Seal(content, recipient);
      ASSERT_EQ(component_.Method(kPkcs7Decrypt, {envelope}), 0) << component_.ErrorMessage();
      EXPECT_EQ(component_.Text(kOpened), content) << recipient.substr(0, 20);
    }
  }
}

TEST_F(EncryptionMembers, EnvelopesAreStandardCms) {
  SoftwareRecipient outsider;
  const std::string envelope = Seal("交換 data", outsider.CertificateBase64());
  EXPECT_EQ(outsider.OpenEnvelope(FromBase64(envelope)).value_or("?"), "交換 data");
}

TEST_F(EncryptionMembers, Pkcs7DecryptRefusesWhatTheTokenCannotOrMustNotOpen) {
  SoftwareRecipient outsider;
  const std::string for_ca = Seal("x", PemBody(ca_pem_));
  const std::string for_outsider = Seal("x", outsider.CertificateBase64());
  // 40 bytes of content make three AES blocks; changing the last byte of
  // the second changes the padding byte of the last.
  std::string changed = FromBase64(Seal(std::string(40, 'c'), ""));
  changed[changed.size() - 17] ^= 0x01;
  EXPECT_EQ(component_.Method(kPkcs7Decrypt, {Seal("x", "")}), kKeyNotFound) << "no Login yet";
  EXPECT_NE(component_.ErrorMessage().find("Login"), std::string::npos);
  Login();
  const struct {
    std::string name, argument;
    std::int32_t code;
  } cases[] = {
      {"for the CA", for_ca, kKeyNotFound},
      {"for someone else", for_outsider, kKeyNotFound},
      {"content changed", ToBase64(changed), kCryptoFailed},
      {"a certificate, not an envelope", PemBody(user_pem_), kBadArgument},
      {"truncated", for_ca.substr(0, for_ca.size() / 2), kBadArgument},
      {"not Base64", "@@@", kBadArgument},
      {"empty", "", kBadArgument},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(component_.Method(kPkcs7Decrypt, {Seal("before", "")}), 0);
    EXPECT_EQ(component_.Method(kPkcs7Decrypt, {c.argument}), c.code) << c.name;
    EXPECT_FALSE(component_.ErrorMessage().empty()) << c.name;
    EXPECT_EQ(component_.Text(kOpened), "") << c.name << ": a failure leaves no older result";
  }
}

TEST_F(EncryptionMembers, Pkcs7EncryptNeedsACertificateItCanRead) {
  EXPECT_EQ(component_.Method(kPkcs7Encrypt, {std::string("x"), std::string("not a certificate")}), kBadArgument);
  EXPECT_EQ(component_.Method(kPkcs7Encrypt, {std::string("x"), ToBase64("\x30\x03\x02\x01\x01")}), kBadArgument);
  ComponentClient fresh(P11CRYPTO_LIBRARY);
  EXPECT_EQ(fresh.Method(kPkcs7Encrypt, {std::string("x"), std::string()}), kNotInitialized)
      << "the token's certificate needs a token";
}

TEST_F(EncryptionMembers, TheSecretKeyTravelsWrappedToTheTokenAndBack) {
  Login();
  const struct {
    int wrap, unwrap;
  } pairs[] = {{kEncryptSecretKey, kDecryptSecretKey}, {kEncryptSecretKeyOaep, kDecryptSecretKeyOaep}};
  for (const auto& p : pairs) {
    ASSERT_EQ(component_.Method(kGenSecretKey), 0);
    const std::string message = Result(kEncryptData, {std::string("祕密")}, kEncrypted);
    const std::string wrapped = Result(p.wrap, {std::string()}, kWrappedKey);
    EXPECT_EQ(Result(p.wrap, {user_pem_}, kWrappedKey).size(), wrapped.size()) << "to the same certificate";
    ASSERT_EQ(component_.Method(kGenSecretKey), 0);  // the key is gone from the instance
    ASSERT_NE(component_.Method(kDecryptData, {message}), 0);
    ASSERT_EQ(component_.Method(p.unwrap, {wrapped}), 0) << p.unwrap << ": " << component_.ErrorMessage();
    EXPECT_EQ(Result(kDecryptData, {message}, kDecrypted), "祕密") << p.unwrap;
  }
}

TEST_F(EncryptionMembers, UnwrappingFailsAlikeForEveryBadKeyAndKeepsTheOldOne) {
  ASSERT_EQ(component_.Method(kDecryptSecretKey, {ToBase64(std::string(256, 'k'))}), kKeyNotFound) << "no Login";
  Login();
  ASSERT_EQ(component_.Method(kGenSecretKey), 0);
  const std::string message = Result(kEncryptData, {std::string("kept")}, kEncrypted);
  const std::string pkcs1 = FromBase64(Result(kEncryptSecretKey, {std::string()}, kWrappedKey));
  const std::string oaep = FromBase64(Result(kEncryptSecretKeyOaep, {std::string()}, kWrappedKey));
  const std::string for_ca = Result(kEncryptSecretKey, {PemBody(ca_pem_)}, kWrappedKey);
  std::string changed = pkcs1;
  changed[100] ^= 0x01;
  const struct {
    std::string name;
    int dispid;
    std::string argument;
  } cases[] = {
      {"OAEP given to PKCS#1", kDecryptSecretKey, ToBase64(oaep)},
      {"PKCS#1 given to OAEP", kDecryptSecretKeyOaep, ToBase64(pkcs1)},
      {"changed", kDecryptSecretKey, ToBase64(changed)},
      {"changed OAEP", kDecryptSecretKeyOaep, ToBase64(changed)},
      {"for the CA", kDecryptSecretKey, for_ca},
      {"too short for the key", kDecryptSecretKey, ToBase64("abc")},
      {"a 128-bit key", kDecryptSecretKey, ToBase64(EncryptToCertificate(user_pem_, std::string(16, 'k')))},
  };
  std::string first_message;
  for (const auto& c : cases) {
    EXPECT_EQ(component_.Method(c.dispid, {c.argument}), kCryptoFailed) << c.name;
    if (first_message.empty()) first_message = component_.ErrorMessage();
    EXPECT_EQ(component_.ErrorMessage(), first_message) << c.name << ": the answer must not tell causes apart";
    EXPECT_EQ(Result(kDecryptData, {message}, kDecrypted), "kept") << c.name;
  }
  EXPECT_EQ(component_.Method(kDecryptSecretKey, {std::string("%%")}), kBadArgument);
  EXPECT_EQ(component_.Method(kDecryptSecretKeyOaep, {std::string()}), kBadArgument);
}

}  // namespace
}  // namespace vorlink::test
