#include "trust/browser_trust_installer.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <thread>

#include "log/diagnostic_log.h"
#include "platform/resources/resource_ids.h"
#include "platform/resources/resource_source.h"
#include "support/test_paths.h"
#include "tls/identity_store.h"
#include "trust/nss_database_trust.h"
#include "trust/nss_databases.h"
#include "trust/override_entry.h"
#include "trust/override_file.h"
#include "trust/trust_watcher.h"

namespace vorlink {
namespace {
namespace fs = std::filesystem;

// The certificate earlier versions served (its key shipped in the program).
std::vector<std::uint8_t> RetiredServerCertificate() {
  return platform::EmbeddedResourceSource().Load(platform::kLocalhostResourceType, platform::kIdrLocalCert).bytes;
}

std::string Read(const fs::path& p) { return test::ReadFileText(p); }

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

// A fresh identity stored in `folder`, and what browsers are to trust for it.
AgentTrust TrustFor(const fs::path& folder, const UserIdentity& identity) {
  std::string problem;
  EXPECT_TRUE(StoreUserIdentity(folder, identity, problem)) << problem;
  AgentTrust trust;
  trust.ca_der = identity.CaDer();
  trust.ca_file = folder / kIdentityCaFile;
  trust.ca_nickname = identity.CaName();
  trust.server_der = identity.CertificateDer();
  trust.retired_ca_der = PemCertificates(Read(test::SourcePath("resources/ORVA.crt"))).front();
  trust.retired_server_der = RetiredServerCertificate();
  return trust;
}

TEST(OverrideEntry, FieldsComeFromTheCertificate) {
  const auto fields = ComputeOverrideFields(RetiredServerCertificate());
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

TEST(OverrideEntry, StaleLinesAreTheRetiredCertificateAnywhereAndOtherCertificatesOnTheAgentsPorts) {
  const std::string now = "AA:BB", old = "0F:0F", other = "12:34";
  const std::vector<int> ports = {48200, 48201};
  const std::pair<std::string, bool> cases[] = {
      {"localhost:48200\tOID.2.16.840.1.101.3.4.2.1\t" + now + "\tU\tkey", false},
      {"localhost:48200\tOID.2.16.840.1.101.3.4.2.1\t" + old + "\tU\tkey", true},
      {"shop.example:443\tOID.2.16.840.1.101.3.4.2.1\t" + old + "\tU\tkey", true},
      {"localhost:48201:\tOID.2.16.840.1.101.3.4.2.1\t" + other + "\t", true},  // Firefox's newer form
      {"127.0.0.1:48200\tOID.2.16.840.1.101.3.4.2.1\t" + other + "\tU\tkey", true},
      {"[::1]:48201:^userContextId=1\tOID.2.16.840.1.101.3.4.2.1\t" + other + "\t", true},
      {"localhost:48202\tOID.2.16.840.1.101.3.4.2.1\t" + other + "\tU\tkey", false},  // not the agent's port
      {"localhost:482000\tOID.2.16.840.1.101.3.4.2.1\t" + other + "\tU\tkey", false},
      {"shop.example:48200\tOID.2.16.840.1.101.3.4.2.1\t" + other + "\tU\tkey", false},
      {"# PSM Certificate Override Settings file", false},
      {"", false},
  };
  for (const auto& [line, stale] : cases) EXPECT_EQ(IsStaleOverrideLine(line, now, old, ports), stale) << line;
  EXPECT_EQ(DropLines("keep\r\ngo\r\nkeep too\ngo", [](std::string_view l) { return l == "go"; }),
            std::optional<std::string>("keep\r\nkeep too\n"));
  EXPECT_EQ(DropLines("keep\r\n", [](std::string_view) { return false; }), std::nullopt);
}

// Which NSS databases Chromium-like browsers get, for folder layouts of
// the native, snap and Flatpak packages.
TEST(NssDatabases, EachBrowserHomeGetsWhatItsChromiumReads) {
  const struct {
    std::vector<std::string> folders;  // made before
    std::string xdg_data_home;         // relative to home; empty: default
    std::vector<std::string> databases;
  } cases[] = {
      {{}, "", {".local/share/pki/nssdb"}},
      {{".pki/nssdb"}, "", {".pki/nssdb"}},
      {{".local/share/pki/nssdb"}, "", {".local/share/pki/nssdb"}},
      {{".pki/nssdb", ".local/share/pki/nssdb"}, "", {".pki/nssdb", ".local/share/pki/nssdb"}},
      {{".pki"}, "", {".local/share/pki/nssdb"}},
      {{}, "xdg", {"xdg/pki/nssdb"}},
      {{"snap/chromium/current"}, "", {".local/share/pki/nssdb", "snap/chromium/current/.local/share/pki/nssdb"}},
      {{"snap/chromium/current/.pki/nssdb"}, "", {".local/share/pki/nssdb", "snap/chromium/current/.pki/nssdb"}},
      {{".var/app/org.chromium.Chromium", ".var/app/com.google.Chrome/.pki/nssdb"},
       "",
       {".local/share/pki/nssdb", ".var/app/org.chromium.Chromium/data/pki/nssdb",
        ".var/app/com.google.Chrome/.pki/nssdb"}},
  };
  for (const auto& c : cases) {
    test::ScratchDir home;
    for (const auto& f : c.folders) fs::create_directories(home.path() / f);
    const std::string xdg = c.xdg_data_home.empty() ? "" : (home.path() / c.xdg_data_home).string();
    std::vector<std::string> found;
    for (const auto& db : BrowserNssDatabases(home.path(), xdg)) found.push_back(db.lexically_relative(home.path()));
    EXPECT_EQ(found, c.databases) << ::testing::PrintToString(c.folders);
  }
}

// The installer's Firefox side with a certutil that records its commands.
class FirefoxTrustTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_.SetViewer(&recorder_);
    settings_.home = home_.path();
    settings_.nss_tools_folder = home_.path() / "tools";
    settings_.ports = {48200, 48201, 48202};
    Write(settings_.nss_tools_folder / "certutil", "#!/bin/sh\n");
    fs::permissions(settings_.nss_tools_folder / "certutil", fs::perms::owner_all);
    identity_ = *MakeUserIdentity(std::time(nullptr));
    trust_ = TrustFor(home_.path() / "identity", identity_);
    const auto fields = *ComputeOverrideFields(trust_.server_der);
    for (int port : {48200, 48201, 48202}) entries_.push_back(OverrideEntryLine(port, fields));
    retired_line_ = OverrideEntryLine(48200, *ComputeOverrideFields(RetiredServerCertificate()));
  }

  fs::path Root() { return home_.path() / ".mozilla/firefox"; }
  fs::path Profile(const std::string& name) {
    fs::create_directories(Root() / name);
    Write(Root() / name / "prefs.js", "");
    return Root() / name;
  }
  void Install() {
    BrowserTrustInstaller installer(log_, trust_, settings_, [this](const platform::Command& c) {
      commands_.push_back(c);
      return platform::CommandOutput{0, ""};
    });
    installer.InstallEverywhere();
  }
  // Databases certutil was asked to import the CA into.
  std::vector<std::string> Imports() const {
    std::vector<std::string> dbs;
    for (const auto& cmd : commands_) {
      if (cmd[1] == "-A") dbs.push_back(cmd[3]);
    }
    return dbs;
  }
  std::string Db(const fs::path& p) const { return "sql:" + p.string(); }

  test::ScratchDir home_;
  DiagnosticLog log_;
  LineRecorder recorder_;
  TrustInstallSettings settings_;
  UserIdentity identity_;
  AgentTrust trust_;
  std::vector<std::string> entries_;
  std::string retired_line_;
  std::vector<platform::Command> commands_;
};

TEST_F(FirefoxTrustTest, EachProfileGetsItsOwnNewFileAndImportButOtherFoldersDoNot) {
  const auto a = Profile("a.default"), b = Profile("b.work");
  fs::create_directories(Root() / "Crash Reports");
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
  const fs::path chromium = home_.path() / ".local/share/pki/nssdb";
  EXPECT_EQ(Imports(), (std::vector<std::string>{Db(chromium), Db(a), Db(b)}));
  EXPECT_EQ(commands_.back(),
            (platform::Command{(settings_.nss_tools_folder / "certutil").string(), "-A", "-d", Db(b), "-n",
                               identity_.CaName(), "-t", "CT,c,c", "-i", (home_.path() / "identity/ca.pem").string()}));
  EXPECT_FALSE(fs::exists(home_.path() / ".pki")) << "never made beside the XDG database";
}

// A Firefox making its first profile holds the new database for a moment:
// certutil fails on it, and the profile is tried again, a few times at most.
TEST_F(FirefoxTrustTest, AProfileWhoseDatabaseRefusedTheImportIsTriedAgainAFewTimes) {
  const struct {
    int refusals;
    int passes;
    bool imported;
    bool still_waiting;
  } cases[] = {{1, 2, true, false}, {4, 5, true, false}, {99, 5, false, false}, {99, 3, false, true}};
  for (const auto& c : cases) {
    const auto profile = Profile("p" + std::to_string(c.refusals) + "-" + std::to_string(c.passes));
    int refusals = c.refusals;
    commands_.clear();
    BrowserTrustInstaller installer(log_, trust_, settings_, [&](const platform::Command& cmd) {
      commands_.push_back(cmd);
      const bool refuse = cmd[1] == "-N" && cmd.back() == Db(profile) && refusals-- > 0;
      return platform::CommandOutput{refuse ? 1 : 0, ""};
    });
    for (int pass = 0; pass < c.passes; ++pass) installer.InstallNewProfiles();
    const auto imports = Imports();
    EXPECT_EQ(std::count(imports.begin(), imports.end(), Db(profile)), c.imported ? 1 : 0) << c.refusals;
    EXPECT_EQ(installer.HasProfilesToRetry(), c.still_waiting) << c.refusals;
    fs::remove_all(profile);
  }
}

TEST_F(FirefoxTrustTest, ExistingFilesLoseStaleLinesAndGetOnlyTheMissingEntries) {
  const auto complete = Profile("complete"), partial = Profile("partial"), empty = Profile("empty"),
             upgraded = Profile("upgraded");
  const std::string all = "other line\r\n" + entries_[2] + "\r\n" + entries_[0] + "\r\nmore\r\n" + entries_[1] + "\r\n";
  Write(complete / "cert_override.txt", all);
  Write(partial / "cert_override.txt", "keep me\r\n" + entries_[1] + "\r\nno newline at end");
  Write(empty / "cert_override.txt", "");
  // What earlier versions wrote: the retired certificate's entries.
  Write(upgraded / "cert_override.txt", "# comment\r\n" + retired_line_ + "\r\nsite.example:443\tOID\tFF\tU\tk\r\n");
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
  EXPECT_EQ(Read(upgraded / "cert_override.txt"), "# comment\r\nsite.example:443\tOID\tFF\tU\tk\r\n" + entries_[0] +
                                                      "\r\n" + entries_[1] + "\r\n" + entries_[2] + "\r\n");
  EXPECT_EQ(Read(with_nul / "cert_override.txt"), nul_content) << "entries after a NUL byte are found";
  // Every profile but the empty one gets its import.
  const auto imports = Imports();
  EXPECT_EQ(std::count(imports.begin(), imports.end(), Db(empty)), 0);
  EXPECT_EQ(std::count(imports.begin(), imports.end(), Db(complete)), 1);
}

TEST_F(FirefoxTrustTest, ProfilesListedByAbsolutePathAndOtherRootsIncludingSnapAndFlatpakAreFound) {
  const fs::path elsewhere = home_.path() / "elsewhere/profile";
  fs::create_directories(elsewhere);
  const fs::path xdg_root = home_.path() / ".config/mozilla/firefox";
  fs::create_directories(xdg_root / "listed");
  Write(xdg_root / "profiles.ini",
        "[General]\r\nStartWithLastProfile=1\r\n\r\n[Profile0]\r\nName=x\r\n"
        "IsRelative=1\r\nPath=listed\r\n\r\n[Profile1]\r\nIsRelative=0\r\nPath=" +
            elsewhere.string() + "\r\n");
  // The snap's and the Flatpak's roots (folder layouts of those packages).
  for (const char* sandboxed :
       {"snap/firefox/common/.mozilla/firefox/s.default", ".var/app/org.mozilla.firefox/.mozilla/firefox/f.default",
        ".var/app/org.mozilla.firefox/config/mozilla/firefox/g.default"}) {
    Write(home_.path() / sandboxed / "times.json", "{}");
  }
  Install();
  EXPECT_TRUE(fs::exists(elsewhere / "cert_override.txt"));
  EXPECT_TRUE(fs::exists(xdg_root / "listed/cert_override.txt"));
  for (const char* sandboxed :
       {"snap/firefox/common/.mozilla/firefox/s.default", ".var/app/org.mozilla.firefox/.mozilla/firefox/f.default",
        ".var/app/org.mozilla.firefox/config/mozilla/firefox/g.default"}) {
    EXPECT_TRUE(fs::exists(home_.path() / sandboxed / "cert_override.txt")) << sandboxed;
    EXPECT_EQ(std::count(commands_.begin(), commands_.end(),
                         ListCommand((settings_.nss_tools_folder / "certutil").string(), home_.path() / sandboxed)),
              1)
        << sandboxed;
  }
}

TEST_F(FirefoxTrustTest, NoFirefoxAtAllIsOneErrorLine) {
  Install();
  const std::vector<std::string> expected = {
      "匯入使用者 CA 到 NSS 憑證資料庫 = " + (home_.path() / ".local/share/pki/nssdb").string(),
      "執行 FindFirstFile(firefoxProfileSearchPattern, &ffd) 返回 INVALID_HANDLE_VALUE"};
  EXPECT_EQ(recorder_.lines, expected);
  ASSERT_EQ(commands_.size(), 3u) << "creates the database, lists it, imports";
  EXPECT_EQ(commands_[0][1], "-N");
}

// --- the real certutil ---------------------------------------------------

bool HaveCertutil() { return platform::RunAndWait({"certutil", "-H"}) >= 0; }

std::set<std::string> Nicknames(const fs::path& db) {
  const auto out = platform::RunAndCapture({"certutil", "-L", "-d", "sql:" + db.string()}, std::chrono::seconds(10));
  std::set<std::string> names;
  for (const auto& e : ParseCertificateList(out.out)) names.insert(e.nickname);
  return names;
}

void Import(const fs::path& db, const std::string& nickname, const fs::path& pem) {
  fs::create_directories(db);
  if (!fs::exists(db / "cert9.db"))
    platform::RunAndWait({"certutil", "-N", "--empty-password", "-d", "sql:" + db.string()});
  ASSERT_EQ(platform::RunAndWait(
                {"certutil", "-A", "-d", "sql:" + db.string(), "-n", nickname, "-t", "C,,", "-i", pem.string()}),
            0)
      << nickname;
}

// A self-signed authority with ORVA.crt's subject (as another developer
// build's make-dev-certs.sh made): NSS files it under the same nickname.
fs::path SameSubjectAsRetired(const fs::path& folder) {
  const auto retired = PemCertificates(Read(test::SourcePath("resources/ORVA.crt"))).front();
  const unsigned char* p = retired.data();
  X509Ptr orva(d2i_X509(nullptr, &p, static_cast<long>(retired.size())));
  EvpPkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  X509Ptr cert(X509_new());
  X509_set_version(cert.get(), X509_VERSION_3);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 4242);
  X509_set_subject_name(cert.get(), X509_get_subject_name(orva.get()));
  X509_set_issuer_name(cert.get(), X509_get_subject_name(orva.get()));
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400);
  X509_set_pubkey(cert.get(), key.get());
  X509_sign(cert.get(), key.get(), EVP_sha256());
  const fs::path file = folder / "same-subject.pem";
  FILE* out = std::fopen(file.c_str(), "w");
  PEM_write_X509(out, cert.get());
  std::fclose(out);
  return file;
}

// One NSS database as earlier versions and identities left it, and what
// it trusts after one installation: the user's authority, and the
// retired CA only where removing it by nickname could take another one.
TEST(NssDatabaseWithCertutil, EachDatabaseEndsTrustingTheUsersAuthorityOnly) {
  if (!HaveCertutil()) GTEST_SKIP() << "certutil is not installed";
  test::ScratchDir dir;
  const auto identity = *MakeUserIdentity(std::time(nullptr));
  const AgentTrust trust = TrustFor(dir.path() / "identity", identity);
  const auto earlier = *MakeUserIdentity(std::time(nullptr));
  std::string problem;
  ASSERT_TRUE(StoreUserIdentity(dir.path() / "earlier", earlier, problem));
  const fs::path orva = test::SourcePath("resources/ORVA.crt");
  const fs::path same_subject = SameSubjectAsRetired(dir.path());
  const fs::path earlier_ca = dir.path() / "earlier/ca.pem";
  const std::string now = identity.CaName();
  const struct {
    const char* name;
    std::vector<std::pair<std::string, fs::path>> before;  // nickname, certificate
    std::set<std::string> after;
    std::size_t retired_left;  // certificates still under ORVA_SSLCA
  } cases[] = {
      {"no database yet", {}, {now}, 0},
      {"the retired CA", {{"ORVA_SSLCA", orva}}, {now}, 0},
      {"the retired CA and one of the same subject",
       {{"ORVA_SSLCA", orva}, {"ORVA_SSLCA", same_subject}},
       {now, "ORVA_SSLCA"},
       2},
      {"another CA under the old nickname", {{"ORVA_SSLCA", earlier_ca}}, {now, "ORVA_SSLCA"}, 1},
      {"the retired CA under another nickname", {{"my own", orva}}, {now, "my own"}, 0},
      {"an earlier identity", {{earlier.CaName(), earlier_ca}}, {now}, 0},
      {"this identity already", {{now, trust.ca_file}}, {now}, 0},
  };
  for (const auto& c : cases) {
    const fs::path db = dir.path() / c.name;
    for (const auto& [nickname, pem] : c.before) Import(db, nickname, pem);
    DiagnosticLog log;
    LineRecorder lines;
    log.SetViewer(&lines);
    EXPECT_TRUE(TrustNssDatabase(log, RealCertutilRunner(), "certutil", db, trust)) << c.name;
    EXPECT_EQ(Nicknames(db), c.after) << c.name;
    const auto left = platform::RunAndCapture({"certutil", "-L", "-d", "sql:" + db.string(), "-n", "ORVA_SSLCA", "-a"},
                                              std::chrono::seconds(10));
    EXPECT_EQ(PemCertificates(left.out).size(), c.retired_left) << c.name;
    if (c.retired_left == 2) {
      EXPECT_NE(std::find(lines.lines.begin(), lines.lines.end(), "ORVA_SSLCA 含多張憑證, 未移除 = " + db.string()),
                lines.lines.end());
    }
  }
}

// A Firefox profile made while the agent runs (none existed at its start)
// trusts the authority a few seconds later.
TEST(TrustWatcherWithCertutil, TrustsAProfileMadeWhileItRuns) {
  if (!HaveCertutil()) GTEST_SKIP() << "certutil is not installed";
  test::ScratchDir home;
  const auto identity = *MakeUserIdentity(std::time(nullptr));
  TrustInstallSettings settings;
  settings.home = home.path();
  settings.ports = {48200};
  DiagnosticLog log;
  TrustWatcher watcher(log, TrustFor(home.path() / "identity", identity), settings);
  watcher.Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const fs::path profile = home.path() / ".config/mozilla/firefox/abc.new";
  Write(profile / "times.json", "{}");
  Write(home.path() / ".config/mozilla/firefox/profiles.ini", "[Profile0]\nName=new\nIsRelative=1\nPath=abc.new\n");
  const auto start = std::chrono::steady_clock::now();
  while (!Nicknames(profile).count(identity.CaName()) &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  EXPECT_EQ(Nicknames(profile), std::set<std::string>{identity.CaName()});
  EXPECT_TRUE(fs::exists(profile / "cert_override.txt"));
  watcher.Stop();
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
