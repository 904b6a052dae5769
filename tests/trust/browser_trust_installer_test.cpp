#include "trust/browser_trust_installer.h"

#include <openssl/evp.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>

#include "log/diagnostic_log.h"
#include "platform/resources/resource_ids.h"
#include "platform/resources/resource_source.h"
#include "support/test_paths.h"
#include "trust/override_entry.h"
#include "trust/override_file.h"

namespace vorlink {
namespace {
namespace fs = std::filesystem;

std::vector<std::uint8_t> Certificate() {
  return platform::EmbeddedResourceSource().Load(platform::kLocalhostResourceType, platform::kIdrLocalCert).bytes;
}

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void Write(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

struct LineRecorder : LogViewerSink {
  void AddLogLine(std::string_view text) override {
    const std::string line(text);
    lines.push_back(line.substr(line.find(" - ") + 3));  // without the time prefix
  }
  std::vector<std::string> lines;
};

class FirefoxTrustTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_.SetViewer(&recorder_);
    settings_.home = home_.path();
    settings_.nss_tools_folder = home_.path() / "tools";
    settings_.ports = {48200, 48201, 48202};
    Write(settings_.nss_tools_folder / "certutil", "#!/bin/sh\n");
    fs::permissions(settings_.nss_tools_folder / "certutil", fs::perms::owner_all);
    entries_.clear();
    const auto fields = *ComputeOverrideFields(Certificate());
    for (int port : {48200, 48201, 48202}) entries_.push_back(OverrideEntryLine(port, fields));
  }

  fs::path Root() { return home_.path() / ".mozilla/firefox"; }
  fs::path Profile(const std::string& name) {
    fs::create_directories(Root() / name);
    Write(Root() / name / "prefs.js", "");
    return Root() / name;
  }
  void Install() {
    InstallFirefoxTrust(log_, Certificate(), settings_,
                        [this](std::vector<platform::Command> c) { launched_.push_back(c); });
  }
  // Databases certutil was asked to import into, Firefox profiles only.
  std::vector<std::string> ProfileImports() const {
    std::vector<std::string> dbs;
    for (const auto& batch : launched_) {
      for (const auto& cmd : batch) {
        if (cmd[1] == "-A" && !cmd.back().starts_with("sql:")) dbs.push_back(cmd.back());
      }
    }
    return dbs;
  }

  test::ScratchDir home_;
  DiagnosticLog log_;
  LineRecorder recorder_;
  TrustInstallSettings settings_;
  std::vector<std::string> entries_;
  std::vector<std::vector<platform::Command>> launched_;
};

TEST(OverrideEntry, FieldsComeFromTheCertificate) {
  const auto fields = ComputeOverrideFields(Certificate());
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->fingerprint.size(), 95u);
  EXPECT_EQ(fields->fingerprint.find_first_not_of("0123456789ABCDEF:"), std::string::npos);
  // 8 zero bytes, two lengths, a 7-byte serial and the issuer name.
  std::string key(200, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(key.data()),
                                reinterpret_cast<const unsigned char*>(fields->database_key.data()),
                                static_cast<int>(fields->database_key.size()));
  ASSERT_GT(n, 16);
  EXPECT_EQ(key.substr(0, 8), std::string(8, '\0'));
  const auto be32 = [&](int at) {
    return (static_cast<unsigned char>(key[at]) << 24) | (static_cast<unsigned char>(key[at + 1]) << 16) |
           (static_cast<unsigned char>(key[at + 2]) << 8) | static_cast<unsigned char>(key[at + 3]);
  };
  const std::size_t padding = std::count(fields->database_key.begin(), fields->database_key.end(), '=');
  EXPECT_EQ(16u + be32(8) + be32(12), static_cast<std::size_t>(n) - padding);
  EXPECT_EQ(OverrideEntryLine(48201, *fields),
            "localhost:48201\tOID.2.16.840.1.101.3.4.2.1\t" + fields->fingerprint + "\tU\t" + fields->database_key);
  EXPECT_FALSE(ComputeOverrideFields(std::vector<std::uint8_t>{0x30, 0x03, 1, 2, 3}));
}

TEST_F(FirefoxTrustTest, EachProfileGetsItsOwnNewFileAndImportButOtherFoldersDoNot) {
  const auto a = Profile("a.default"), b = Profile("b.work");
  fs::create_directories(Root() / "Crash Reports");
  fs::create_directories(Root() / "Pending Pings");
  fs::create_directories(Root() / ".hidden");
  Write(Root() / ".hidden/prefs.js", "");
  Write(Root() / "plain-file", "x");
  Install();
  const std::string expected = NewOverrideFile(entries_);
  EXPECT_TRUE(
      expected.starts_with("# PSM Certificate Override Settings file\r\n"
                           "# This is a generated file!  Do not edit.\r\n"));
  EXPECT_EQ(Read(a / "cert_override.txt"), expected);
  EXPECT_EQ(Read(b / "cert_override.txt"), expected);
  EXPECT_FALSE(fs::exists(Root() / "Crash Reports/cert_override.txt"));
  EXPECT_FALSE(fs::exists(Root() / ".hidden/cert_override.txt"));
  EXPECT_EQ(ProfileImports(), (std::vector<std::string>{a.string(), b.string()}));
  const platform::Command& cmd = launched_.back().back();
  EXPECT_EQ(cmd,
            (platform::Command{(settings_.nss_tools_folder / "certutil").string(), "-A", "-n", "ORVA_SSLCA", "-i",
                               (settings_.nss_tools_folder / "ORVA.crt").string(), "-t", "CT,c,c", "-d", b.string()}));
  EXPECT_STREQ(std::getenv("NSS_DEFAULT_DB_TYPE"), "sql");
}

TEST_F(FirefoxTrustTest, ExistingFilesGetOnlyTheMissingEntries) {
  const auto complete = Profile("complete"), partial = Profile("partial"), empty = Profile("empty");
  const std::string all = "other line\r\n" + entries_[2] + "\r\n" + entries_[0] + "\r\nmore\r\n" + entries_[1] + "\r\n";
  Write(complete / "cert_override.txt", all);
  Write(partial / "cert_override.txt", "keep me\r\n" + entries_[1] + "\r\nno newline at end");
  Write(empty / "cert_override.txt", "");
  const auto with_nul = Profile("with-nul");
  const std::string nul_content =
      std::string("junk\0junk\r\n", 12) + entries_[0] + "\r\n" + entries_[1] + "\r\n" + entries_[2] + "\r\n";
  Write(with_nul / "cert_override.txt", nul_content);
  Install();
  EXPECT_EQ(Read(complete / "cert_override.txt"), all);
  // The open last line is closed first, so it and the new entry stay whole.
  EXPECT_EQ(Read(partial / "cert_override.txt"),
            "keep me\r\n" + entries_[1] + "\r\nno newline at end\r\n" + entries_[0] + "\r\n" + entries_[2] + "\r\n");
  EXPECT_EQ(Read(empty / "cert_override.txt"), "");
  EXPECT_EQ(Read(with_nul / "cert_override.txt"), nul_content) << "entries after a NUL byte are found";
  // The complete profile still gets its import; the empty one is skipped.
  EXPECT_EQ(ProfileImports(), (std::vector<std::string>{complete.string(), partial.string(), with_nul.string()}));
  const std::vector<std::string> firefox_lines(recorder_.lines.begin() + 1, recorder_.lines.end());
  EXPECT_EQ(firefox_lines,
            (std::vector<std::string>{"更新 Firefox 例外清單檔 cert_override.txt 檔", "cert_override.txt 檔存檔成功"}));
}

TEST_F(FirefoxTrustTest, ProfilesListedByAbsolutePathAndOtherRootsAreFound) {
  const fs::path elsewhere = home_.path() / "elsewhere/profile";
  fs::create_directories(elsewhere);
  const fs::path xdg_root = home_.path() / ".config/mozilla/firefox";
  fs::create_directories(xdg_root / "listed");
  Write(xdg_root / "profiles.ini",
        "[General]\r\nStartWithLastProfile=1\r\n\r\n[Profile0]\r\nName=x\r\n"
        "IsRelative=1\r\nPath=listed\r\n\r\n[Profile1]\r\nIsRelative=0\r\nPath=" +
            elsewhere.string() + "\r\n");
  Install();
  EXPECT_TRUE(fs::exists(elsewhere / "cert_override.txt"));
  EXPECT_TRUE(fs::exists(xdg_root / "listed/cert_override.txt"));
}

TEST_F(FirefoxTrustTest, NoFirefoxAtAllIsOneErrorLine) {
  Install();
  ASSERT_EQ(recorder_.lines.size(), 2u);  // the shared NSS database line, then the error
  EXPECT_EQ(recorder_.lines[1], "執行 FindFirstFile(firefoxProfileSearchPattern, &ffd) 返回 INVALID_HANDLE_VALUE");
  ASSERT_EQ(launched_.size(), 1u);
  EXPECT_EQ(launched_[0].size(), 2u) << "creates the shared database, then imports";
  EXPECT_EQ(launched_[0][0][1], "-N");
  EXPECT_EQ(launched_[0][1].back(), "sql:" + (home_.path() / ".pki/nssdb").string());
}

// The real certutil imports the CA into a profile and the shared database.
TEST(FirefoxTrustWithCertutil, ImportsTheCaIntoProfileAndSharedDatabase) {
  if (platform::RunAndWait({"certutil", "-H"}) < 0) GTEST_SKIP() << "certutil is not installed";
  test::ScratchDir home;
  const fs::path profile = home.path() / ".mozilla/firefox/p.default";
  Write(profile / "times.json", "{}");
  TrustInstallSettings settings;
  settings.home = home.path();
  settings.nss_tools_folder = home.path() / "nss";
  fs::create_directories(settings.nss_tools_folder);
  fs::copy_file(test::SourcePath("resources/ORVA.crt"), settings.nss_tools_folder / "ORVA.crt");
  DiagnosticLog log;
  InstallFirefoxTrust(log, Certificate(), settings, [](std::vector<platform::Command> commands) {
    for (const auto& c : commands) platform::RunAndWait(c);
  });
  for (const fs::path& db : {profile, home.path() / ".pki/nssdb"}) {
    EXPECT_TRUE(fs::exists(db / "cert9.db")) << db;
    EXPECT_EQ(platform::RunAndWait({"certutil", "-L", "-d", "sql:" + db.string(), "-n", "ORVA_SSLCA"}), 0) << db;
  }
}

TEST(OverrideFileWrite, AFailedWriteLeavesTheOldFileWhole) {
  test::ScratchDir dir;
  const fs::path file = dir.path() / "cert_override.txt";
  Write(file, "old content\r\n");
  // Limit file size so the write fails part-way, even for root.
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 8;
  ::setrlimit(RLIMIT_FSIZE, &small);
  const auto stored = WriteFileAtomically(file, std::string(1000, 'x'));
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(stored, 0u);
  EXPECT_EQ(Read(file), "old content\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
      << "no temporary file may be left behind";
  EXPECT_EQ(WriteFileAtomically(file, "new"), 3u);
  EXPECT_EQ(Read(file), "new");
}

}  // namespace
}  // namespace vorlink
