// Certificates and CMS signatures made by the token, checked by the
// component itself and by the openssl command line.

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

#include "component_client.h"
#include "support/test_paths.h"
#include "test_token.h"

namespace vorlink::test {
namespace {
namespace fs = std::filesystem;

enum Dispid {
  kInitialize = 1,
  kSelect = 4,
  kLogin = 5,
  kSign = 7,
  kSignature = 8,
  kVerify = 9,
  kCardCert = 12,
  kCert = 13,
  kSignCert = 20,
  kVerifyCert = 21,
  kVerifyContent = 22,
  kParse = 26,
  kIssuer = 27,
  kVersion = 28,
  kSerial = 29,
  kNotBefore = 30,
  kNotAfter = 31,
  kPublicKey = 32,
  kSubject = 33,
  kCardCertSerial = 54,
  kCardCertSerialText = 55,
  kCommonName = 56,
  kContentBase64 = 57,
  kSignFile = 76,
  kVerifyFile = 78,
  kSignFilePath = 81,
  kSignBigFile = 95,
  kVerifyBigFile = 96,
};
constexpr std::int32_t kBadArgument = 0x5005, kCertificateNotFound = 0x5006, kKeyNotFound = 0x5007,
                       kVerifyFailed = 0x5009, kFileNotAllowed = 0x500A;

std::string Shell(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  while (pipe && std::fgets(buffer, sizeof(buffer), pipe)) output += buffer;
  const int status = pipe ? ::pclose(pipe) : -1;
  return (status == 0 ? "ok\n" : "failed\n") + output;
}

std::string Base64OfPem(const fs::path& pem) {
  const std::string text = ReadFileText(pem);
  std::string body;
  for (size_t at = text.find('\n') + 1; at < text.find("-----END"); ++at) {
    if (text[at] != '\n') body += text[at];
  }
  return body;
}

void WriteBase64AsDer(const std::string& base64, const fs::path& out) {
  std::ofstream(out.string() + ".b64") << base64;
  Shell("openssl base64 -d -A -in '" + out.string() + ".b64' -out '" + out.string() + "'");
}

class Signatures : public ::testing::Test {
 protected:
  void SetUp() override {
    token_ = SharedTestToken();
    ASSERT_NE(token_, nullptr);
    ::setenv("HOME", home_.path().c_str(), 1);  // the component's working folder lives here
    component_ = std::make_unique<ComponentClient>(P11CRYPTO_LIBRARY);
    ASSERT_EQ(component_->Method(kInitialize, {std::string(kSoftHsmModuleName)}), 0);
    ASSERT_EQ(component_->Method(kSelect, {std::string(kTokenLabel)}), 0);
  }
  void Login() { ASSERT_EQ(component_->Method(kLogin, {std::string(kUserPin)}), 0); }

  // openssl's verdict on a Base64 signature, with the CA as the only trust.
  std::string OpensslVerify(const std::string& signature, const std::string& detached_content = {}) {
    const fs::path der = home_.path() / "sig.der", content = home_.path() / "content.bin";
    WriteBase64AsDer(signature, der);
    std::string command = "openssl cms -verify -binary -inform DER -in '" + der.string() + "' -CAfile '" +
                          token_->ca_pem().string() + "' -purpose any -out /dev/null";
    if (!detached_content.empty()) {
      std::ofstream(content, std::ios::binary) << detached_content;
      command += " -content '" + content.string() + "'";
    }
    return Shell(command);
  }

  const TestToken* token_ = nullptr;
  ScratchDir home_;
  std::unique_ptr<ComponentClient> component_;
};

TEST_F(Signatures, ReadsTheTokensCertificateByIndex) {
  EXPECT_EQ(component_->Method(kCardCert, {1}), kCertificateNotFound);
  EXPECT_EQ(component_->Method(kCardCert, {-1}), kCertificateNotFound);
  EXPECT_EQ(component_->Text(kCert), "") << "nothing read yet";
  ASSERT_EQ(component_->Method(kCardCert, {0}), 0);
  EXPECT_EQ(component_->Text(kCert), Base64OfPem(token_->user_pem()));
  EXPECT_EQ(component_->Text(kSignCert), Base64OfPem(token_->user_pem()));
  EXPECT_EQ(component_->Text(kCommonName), "Vorlink Test User");
  ASSERT_EQ(component_->Method(kCardCertSerial), 0);
  const std::string serial = Shell("openssl x509 -noout -serial -in '" + token_->user_pem().string() + "'");
  EXPECT_NE(serial.find("serial=" + component_->Text(kCardCertSerialText)), std::string::npos) << serial;
}

TEST_F(Signatures, ParsesCertificatesGivenAsBase64OrPem) {
  const std::string base64 = Base64OfPem(token_->user_pem());
  for (const std::string& input :
       {base64, ReadFileText(token_->user_pem()), base64.substr(0, 64) + "\r\n" + base64.substr(64)}) {
    ASSERT_EQ(component_->Method(kParse, {input}), 0);
    EXPECT_EQ(component_->Text(kSubject), "CN=Vorlink Test User,O=Vorlink Test,C=TW");
    EXPECT_EQ(component_->Text(kIssuer), "CN=Vorlink Test CA,O=Vorlink Test");
    EXPECT_EQ(component_->Call(kVersion).integer, 3);
    EXPECT_EQ(component_->Text(kNotBefore).size(), 20u) << component_->Text(kNotBefore);
    EXPECT_EQ(component_->Text(kNotAfter).back(), 'Z');
    EXPECT_FALSE(component_->Text(kSerial).empty());
    EXPECT_EQ(component_->Text(kPublicKey).rfind("MIIBIjANBgkqhkiG9w0BAQEFAA", 0), 0u) << "RSA SubjectPublicKeyInfo";
  }
  for (const std::string& bad :
       {std::string(), std::string("not base64!"), std::string("AAAA"), base64.substr(0, 100)}) {
    EXPECT_EQ(component_->Method(kParse, {bad}), kBadArgument) << bad;
  }
}

TEST_F(Signatures, SigningNeedsTheLoginThatShowsTheKey) {
  EXPECT_EQ(component_->Method(kSign, {std::string("text"), 0, 0}), kKeyNotFound);
  EXPECT_NE(component_->ErrorMessage().find("Login"), std::string::npos);
  EXPECT_EQ(component_->Text(kSignature), "");
}

TEST_F(Signatures, AttachedAndDetachedSignaturesVerifyHereAndInOpenssl) {
  Login();
  const std::string text = "交易內容: 轉帳 1000 元\r\nline two\n\0binary";
  const struct { std::int32_t detached, hash; } cases[] = {{0, 0}, {1, 0}, {0, 1}, {1, 384}, {0, 512}, {1, 256}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "detached " << c.detached << " hash " << c.hash);
    ASSERT_EQ(component_->Method(kSign, {text, c.detached, c.hash}), 0) << component_->ErrorMessage();
    const std::string signature = component_->Text(kSignature);
    EXPECT_EQ(OpensslVerify(signature, c.detached ? text : "").substr(0, 3), "ok\n");
    ASSERT_EQ(
        component_->Method(kVerify, {signature, c.detached ? text : "", ReadFileText(token_->ca_pem()), std::string()}),
        0)
        << component_->ErrorMessage();
    EXPECT_EQ(component_->Text(kVerifyContent), text);
    EXPECT_EQ(component_->Text(kVerifyCert), Base64OfPem(token_->user_pem()));
    EXPECT_FALSE(component_->Text(kContentBase64).empty());
  }
  EXPECT_EQ(component_->Method(kSign, {text, 0, 7}), kBadArgument) << "no such hash";
}

TEST_F(Signatures, VerifyRejectsTamperingAndStrangers) {
  Login();
  const std::string text = "pay 100";
  ASSERT_EQ(component_->Method(kSign, {text, 1, 0}), 0);
  const std::string detached = component_->Text(kSignature);
  ASSERT_EQ(component_->Method(kSign, {text, 0, 0}), 0);
  std::string attached = component_->Text(kSignature);
  std::string flipped = attached;  // the signature value is the structure's last field
  const size_t inside_signature = flipped.size() - 12;
  flipped[inside_signature] = flipped[inside_signature] == 'A' ? 'B' : 'A';

  const fs::path other = home_.path() / "other";
  Shell("openssl req -x509 -newkey rsa:2048 -nodes -keyout '" + other.string() + ".key' -out '" + other.string() +
        ".pem' -subj /CN=Other -days 1");
  const std::string ca = ReadFileText(token_->ca_pem());
  const struct {
    std::string name, signature, content, trusted;
    std::int32_t code;
  } cases[] = {
      {"changed content", detached, "pay 900", "", kVerifyFailed},
      {"no content for a detached signature", detached, "", "", kBadArgument},
      {"changed signature bytes", flipped, "", "", kVerifyFailed},
      {"untrusted issuer", attached, "", ReadFileText(other.string() + ".pem"), kVerifyFailed},
      {"not Base64", "@@@", "", "", kBadArgument},
      {"not CMS", "AAAA", "", "", kBadArgument},
      {"unreadable authorities", attached, "", "garbage", kBadArgument},
      {"trusted issuer", attached, "", ca, 0},
  };
  for (const auto& c : cases) {
    const std::int32_t code = component_->Method(kVerify, {c.signature, c.content, c.trusted, std::string()});
    if (c.code == kVerifyFailed && code == kBadArgument) continue;  // a flip may break the DER itself
    EXPECT_EQ(code, c.code) << c.name << ": " << component_->ErrorMessage();
    if (c.code != 0) {
      EXPECT_EQ(component_->Text(kVerifyContent), "") << c.name << ": no content from a failed check";
    }
  }
}

TEST_F(Signatures, SignsAndVerifiesFilesInTheWorkingFolderOnly) {
  Login();
  const fs::path folder = home_.path() / "Vorlink Files";
  fs::create_directories(folder);
  const fs::path file = folder / "contract.bin";
  {
    std::ofstream out(file, std::ios::binary);
    for (int i = 0; i < 300000; ++i) out << "block " << i << '\n';
  }
  ASSERT_EQ(component_->Method(kSignFile, {file.string(), std::string()}), 0) << component_->ErrorMessage();
  const std::string signature_path = component_->Text(kSignFilePath);
  EXPECT_EQ(signature_path, (folder / "contract.bin.p7s").string());
  EXPECT_EQ(Shell("openssl cms -verify -binary -inform DER -in '" + signature_path + "' -content '" + file.string() +
                  "' -CAfile '" + token_->ca_pem().string() + "' -purpose any -out /dev/null")
                .substr(0, 3),
            "ok\n");
  EXPECT_EQ(component_->Method(kVerifyFile, {file.string(), signature_path}), 0) << component_->ErrorMessage();
  ASSERT_EQ(component_->Method(kSignBigFile, {std::string("contract.bin")}), 0) << "relative to the working folder";
  EXPECT_EQ(component_->Method(kVerifyBigFile, {std::string("contract.bin"), std::string("contract.bin.p7s")}), 0);

  std::ofstream(file, std::ios::app) << "one more line\n";
  EXPECT_EQ(component_->Method(kVerifyFile, {file.string(), signature_path}), kVerifyFailed);

  const fs::path outside = home_.path() / "outside.txt";
  std::ofstream(outside) << "not for pages";
  fs::create_symlink(home_.path(), folder / "escape");
  for (const std::string& path : {outside.string(), std::string("../outside.txt"), std::string("escape/outside.txt"),
                                  std::string("/etc/passwd")}) {
    EXPECT_EQ(component_->Method(kSignFile, {path, std::string()}), kFileNotAllowed) << path;
    EXPECT_EQ(component_->Method(kSignFile, {file.string(), path + ".p7s"}), kFileNotAllowed) << path;
  }
  EXPECT_FALSE(fs::exists(outside.string() + ".p7s"));
}

}  // namespace
}  // namespace vorlink::test
