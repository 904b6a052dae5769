// Module verification with manifests written by the manifest tool's code.

#include "component/module_verifier.h"

#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <fstream>
#include <functional>
#include <gtest/gtest.h>

#include "manifest_signer.h"
#include "platform/resources/resource_ids.h"
#include "platform/resources/resource_source.h"
#include "support/test_paths.h"

namespace vorlink {
namespace {
namespace fs = std::filesystem;

std::vector<std::uint8_t> Certificate() {
  return platform::EmbeddedResourceSource().Load(platform::kLocalhostResourceType, platform::kIdrLocalCert).bytes;
}

// A fresh RSA-2048 key pair as PEM texts.
std::pair<std::string, std::string> NewKeyPair() {
  EVP_PKEY* key = EVP_RSA_gen(2048);
  BIO* priv = BIO_new(BIO_s_mem());
  BIO* pub = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(priv, key, nullptr, nullptr, 0, nullptr, nullptr);
  PEM_write_bio_PUBKEY(pub, key);
  auto text = [](BIO* b) {
    char* data = nullptr;
    const long n = BIO_get_mem_data(b, &data);
    return std::string(data, static_cast<std::size_t>(n));
  };
  std::pair<std::string, std::string> pair{text(priv), text(pub)};
  BIO_free(priv);
  BIO_free(pub);
  EVP_PKEY_free(key);
  return pair;
}

class ModuleVerifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    private_pem_ = test::ReadFileText(test::SourcePath("tools/dev-keys/manifest-dev.key.pem"));
    public_pem_ = test::ReadFileText(test::SourcePath("tools/dev-keys/manifest-dev.pub.pem"));
    Write("libp11crypto.so", std::string(5000, 'm'));
    Write("sub/helper.so", "helper bytes");
  }
  void Write(const std::string& name, const std::string& bytes) {
    fs::create_directories((dir_.path() / name).parent_path());
    std::ofstream(dir_.path() / name, std::ios::binary) << bytes;
  }
  std::string Text(const std::vector<std::string>& files) {
    manifest::SignRequest request{private_pem_, Certificate(), dir_.path(), files};
    return manifest::ManifestText(request);
  }
  void Sign(const std::string& text, const std::string& key_pem = "") {
    Write("Vorlink.ini", manifest::SignManifestText(text, key_pem.empty() ? private_pem_ : key_pem));
  }
  ModuleCheckResult Check(std::vector<std::uint8_t> cert = Certificate()) {
    ModuleVerifier verifier(public_pem_);
    EXPECT_TRUE(verifier.SetVerificationKey(cert));
    return verifier.LoadAndVerify(dir_.path() / "Vorlink.ini");
  }

  test::ScratchDir dir_;
  std::string private_pem_, public_pem_;
};

TEST_F(ModuleVerifierTest, AGoodManifestPassesAndAnyChangeToAFileFails) {
  Sign(Text({"libp11crypto.so", "sub/helper.so"}));
  EXPECT_EQ(Check(), ModuleCheckResult::kOk);

  for (std::size_t at : {0u, 2500u, 4999u}) {
    std::string bytes(5000, 'm');
    bytes[at] ^= 1;
    Write("libp11crypto.so", bytes);
    EXPECT_EQ(Check(), ModuleCheckResult::kCheckFailed) << "flipped byte " << at;
  }
  Write("libp11crypto.so", std::string(5001, 'm'));
  EXPECT_EQ(Check(), ModuleCheckResult::kCheckFailed) << "one byte longer";
  Write("libp11crypto.so", std::string(5000, 'm'));
  EXPECT_EQ(Check(), ModuleCheckResult::kOk);
  auto other_cert = Certificate();
  other_cert.back() ^= 1;
  EXPECT_EQ(Check(other_cert), ModuleCheckResult::kCheckFailed) << "another server certificate";
  fs::remove(dir_.path() / "sub/helper.so");
  EXPECT_EQ(Check(), ModuleCheckResult::kCheckFailed) << "a missing file";
}

// One verifier reads a file's digest again only when the file may have been
// written since, and that is still caught when the writer sets the
// modification time back: a same-size rewrite, a copy renamed into place.
TEST_F(ModuleVerifierTest, TheSameVerifierCatchesAFileChangedUnderIt) {
  Sign(Text({"libp11crypto.so"}));
  const fs::path file = dir_.path() / "libp11crypto.so";
  ModuleVerifier verifier(public_pem_);
  ASSERT_TRUE(verifier.SetVerificationKey(Certificate()));
  auto check = [&] { return verifier.LoadAndVerify(dir_.path() / "Vorlink.ini"); };
  ASSERT_EQ(check(), ModuleCheckResult::kOk);
  const auto good_time = fs::last_write_time(file);

  const struct {
    const char* change;
    std::function<void()> apply;
    ModuleCheckResult result;
  } cases[] = {
      {"same size, time set back",
       [&] {
         Write("libp11crypto.so", std::string(4999, 'm') + "x");
         fs::last_write_time(file, good_time);
       },
       ModuleCheckResult::kCheckFailed},
      {"written back", [&] { Write("libp11crypto.so", std::string(5000, 'm')); }, ModuleCheckResult::kOk},
      {"a changed copy renamed into place, time set back",
       [&] {
         Write("copy", "x" + std::string(4999, 'm'));
         fs::last_write_time(dir_.path() / "copy", good_time);
         fs::rename(dir_.path() / "copy", file);
       },
       ModuleCheckResult::kCheckFailed},
  };
  for (const auto& c : cases) {
    c.apply();
    EXPECT_EQ(check(), c.result) << c.change;
  }
}

TEST_F(ModuleVerifierTest, ManifestsThatDoNotOpenFailToLoad) {
  const std::string text = Text({"libp11crypto.so"});
  Sign(text, NewKeyPair().first);
  EXPECT_EQ(Check(), ModuleCheckResult::kLoadFailed) << "signed with another key";

  Sign(text);
  const std::string good = test::ReadFileText(dir_.path() / "Vorlink.ini");
  const std::pair<std::string, std::string> broken[] = {
      {"missing", ""},
      {"odd length", good + "A"},
      {"half a block", good.substr(0, 256)},
      {"not below the modulus", std::string(512, 'F')},
  };
  for (const auto& [what, content] : broken) {
    if (what == "missing") {
      fs::remove(dir_.path() / "Vorlink.ini");
    } else {
      Write("Vorlink.ini", content);
    }
    ModuleVerifier verifier(public_pem_);
    verifier.SetVerificationKey(Certificate());
    EXPECT_EQ(verifier.LoadAndVerify(dir_.path() / "Vorlink.ini"), ModuleCheckResult::kLoadFailed) << what;
    EXPECT_TRUE(verifier.entries().empty()) << what;
  }
}

TEST_F(ModuleVerifierTest, AnEmptyManifestLoadsButNothingVerifies) {
  Sign("");
  EXPECT_EQ(Check(), ModuleCheckResult::kCheckFailed);
}

TEST_F(ModuleVerifierTest, TheTextRulesOfTheManifest) {
  const std::string real = Text({"libp11crypto.so"});
  const std::string digest = real.substr(real.find('=') + 1, 64);
  std::string lower = digest;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // Upper and lower case agree; white space around the parts is ignored; a
  // line without "\r\n" at the end is read; duplicates are both checked.
  Sign("  libp11crypto.so =  " + lower + ".5000 \r\nno equals sign\r\nlibp11crypto.so=" + digest + ".5000");
  ModuleVerifier verifier(public_pem_);
  verifier.SetVerificationKey(Certificate());
  EXPECT_EQ(verifier.LoadAndVerify(dir_.path() / "Vorlink.ini"), ModuleCheckResult::kOk);
  ASSERT_EQ(verifier.entries().size(), 2u);
  EXPECT_EQ(verifier.entries()[0].name, "libp11crypto.so");

  // A duplicate that fails fails the whole check.
  Sign(real + "\r\nlibp11crypto.so=" + digest + ".4999");
  EXPECT_EQ(Check(), ModuleCheckResult::kCheckFailed);
}

TEST(ManifestText, SkipsShortValuesAndReadsSizesLikeStrtol) {
  const std::string d(64, 'A');
  const auto entries = ParseManifestText("a=" + std::string(35, 'B') +
                                         ".1234\r\n"  // 40 characters: skipped
                                         "b=" +
                                         d +
                                         ".0x400\r\n"
                                         "c=" +
                                         d +
                                         ".0400\r\n"
                                         "d=" +
                                         d.substr(0, 63) +
                                         ".12\r\n"  // malformed digest: entry kept, can never pass
                                         "e=" +
                                         std::string(70, 'C') +
                                         "\r\n"  // no dot: skipped
                                         "f=" +
                                         d + ".junk");
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].name, "b");
  EXPECT_EQ(entries[0].size, 1024);
  EXPECT_EQ(entries[1].size, 256);
  EXPECT_TRUE(entries[2].digest.empty());
  EXPECT_EQ(entries[3].size, 0);
  EXPECT_EQ(entries[0].digest.size(), 32u);
}

TEST(ManifestHex, DecodesPairsAndRefusesOddLength) {
  EXPECT_EQ(*DecodeManifestHex("00ffA0"), (std::vector<std::uint8_t>{0x00, 0xff, 0xa0}));
  EXPECT_FALSE(DecodeManifestHex("abc"));
}

}  // namespace
}  // namespace vorlink
