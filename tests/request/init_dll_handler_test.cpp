#include "request/init_dll_handler.h"

#include <fstream>
#include <gtest/gtest.h>

#include "log/diagnostic_log.h"
#include "manifest_signer.h"
#include "platform/resources/resource_ids.h"
#include "platform/resources/resource_source.h"
#include "request/answer.h"
#include "request/messages.h"
#include "support/test_paths.h"

namespace vorlink {
namespace {
namespace fs = std::filesystem;

struct Lines : LogViewerSink {
  void AddLogLine(std::string_view t) override {
    const std::string s(t);
    lines.push_back(s.substr(s.find("] ") + 2));
  }
  std::vector<std::string> lines;
};

class InitDllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_.SetViewer(&lines_);
    cert_ = platform::EmbeddedResourceSource().Load(platform::kLocalhostResourceType, platform::kIdrLocalCert).bytes;
    verifier_.SetVerificationKey(cert_);
    std::ofstream(dir_.path() / "module.so") << "module";
  }
  void SignManifest(std::vector<std::string> files) {
    const std::string key = test::ReadFileText(test::SourcePath("tools/dev-keys/manifest-dev.key.pem"));
    const std::string text = manifest::ManifestText({key, cert_, dir_.path(), files});
    std::ofstream(dir_.path() / "Vorlink.ini") << manifest::SignManifestText(text, key);
  }
  std::string Init(std::string_view value) {
    InitDllHandler handler(log_, verifier_, dir_.path() / "Vorlink.ini", [this](const PageOrigin&) {
      ++created_;
      return component_answer_;
    });
    return handler.HandleInitDll(value, std::nullopt);
  }

  test::ScratchDir dir_;
  DiagnosticLog log_;
  Lines lines_;
  std::vector<std::uint8_t> cert_;
  ModuleVerifier verifier_{test::ReadFileText(test::SourcePath("tools/dev-keys/manifest-dev.pub.pem"))};
  std::string component_answer_ = TokenAnswer(4242);
  int created_ = 0;
};

TEST(ModuleKind, MarkersAreFoundInAnUpperCaseCopyInTheirOrder) {
  const std::pair<const char*, ModuleKind> cases[] = {
      {"PKCS11", ModuleKind::kPkcs11},
      {"pkcs11", ModuleKind::kPkcs11},
      {"capi", ModuleKind::kCapi},
      {"xxxPKCS11.dll", ModuleKind::kPkcs11},
      {"CAPI+PKCS11", ModuleKind::kCapi},
      {"card pkcs11", ModuleKind::kPkcs11},
      {"Card", ModuleKind::kCard},
      {"PKCS 11", ModuleKind::kNone},
      {"\xc3\xa9"
       "capi",
       ModuleKind::kCapi},
      {"", ModuleKind::kNone},
  };
  for (const auto& [value, kind] : cases) EXPECT_EQ(FindModuleKind(value), kind) << value;
}

TEST_F(InitDllTest, NamesWithoutAKindAreRefusedBeforeAnyCheck) {
  for (const char* value : {"", "nothing", "PKCS 11"}) {
    EXPECT_EQ(Init(value), TextAnswer(-1, messages::kInvalidDllName)) << value;
  }
  EXPECT_TRUE(lines_.lines.empty());
}

TEST_F(InitDllTest, AMissingManifestFailsEveryKind) {
  for (const char* value : {"PKCS11", "capi", "CARD"}) {
    EXPECT_EQ(Init(value), TextAnswer(-1, messages::kManifestLoadFailed)) << value;
  }
  EXPECT_EQ(lines_.lines.back(), "ERROR - (1)載入 Vorlink.ini 失敗");
  EXPECT_EQ(created_, 0);
}

TEST_F(InitDllTest, AManifestListingNothingOrABadFileFailsTheCheck) {
  SignManifest({});
  EXPECT_EQ(Init("PKCS11"), TextAnswer(-1, messages::kModuleCheckFailed));
  EXPECT_EQ(lines_.lines.back(), "ERROR - (2)驗證所有 DLL 檔失敗");
  SignManifest({"module.so"});
  std::ofstream(dir_.path() / "module.so") << "changed";
  EXPECT_EQ(Init("PKCS11"), TextAnswer(-1, messages::kModuleCheckFailed));
}

TEST_F(InitDllTest, CapiAndCardAreVerifiedThenRefused) {
  SignManifest({"module.so"});
  for (const char* value : {"CAPI", "card"}) {
    EXPECT_EQ(Init(value), TextAnswer(-1, messages::kSubprogramLoadFailed)) << value;
    EXPECT_EQ(lines_.lines.back(), "DEBUG - 驗證所有 DLL 檔 : 成功");
  }
  EXPECT_EQ(created_, 0);
}

TEST_F(InitDllTest, Pkcs11CreatesAComponentOrReportsThatItCannot) {
  SignManifest({"module.so"});
  EXPECT_EQ(Init("pkcs11"), "||0||4242||");
  EXPECT_EQ(created_, 1);
  component_answer_.clear();  // the component cannot be created
  EXPECT_EQ(Init("PKCS11"), TextAnswer(-1, messages::kPkcs11LoadFailed));
}

}  // namespace
}  // namespace vorlink
