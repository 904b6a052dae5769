// The user's TLS identity: what it is made of, and which folders make the
// agent keep it or make a new one.

#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>

#include "support/test_paths.h"
#include "tls/identity_store.h"

namespace vorlink {
namespace {
namespace fs = std::filesystem;

const std::time_t kNow = std::time(nullptr);
constexpr std::time_t kDay = 86400;

mode_t Mode(const fs::path& p) {
  struct stat st {};
  ::stat(p.c_str(), &st);
  return st.st_mode & 07777;
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(UserIdentity, IsAConstrainedAuthorityAndOneServerCertificateForTheLoopbackNames) {
  const auto identity = MakeUserIdentity(kNow);
  ASSERT_TRUE(identity);
  EXPECT_EQ(IdentityProblem(*identity, kNow), "");
  X509* ca = identity->ca.get();
  const int nc = X509_get_ext_by_NID(ca, NID_name_constraints, -1);
  ASSERT_GE(nc, 0);
  EXPECT_EQ(X509_EXTENSION_get_critical(X509_get_ext(ca, nc)), 1);
  EXPECT_EQ(X509_get_pathlen(ca), 0);
  EXPECT_TRUE(identity->CaName().starts_with(kIdentityCaNamePrefix));
  EXPECT_NE(MakeUserIdentity(kNow)->CaName(), identity->CaName()) << "each identity has a subject of its own";
  // The key is the server certificate's, not the authority's, and the
  // server certificate names exactly the three loopback names.
  EXPECT_EQ(X509_check_private_key(identity->certificate.get(), identity->key.get()), 1);
  EXPECT_EQ(X509_check_private_key(ca, identity->key.get()), 0);
  X509* cert = identity->certificate.get();
  EXPECT_EQ(X509_check_host(cert, "localhost", 0, 0, nullptr), 1);
  EXPECT_EQ(X509_check_ip_asc(cert, "127.0.0.1", 0), 1);
  EXPECT_EQ(X509_check_ip_asc(cert, "::1", 0), 1);
  EXPECT_EQ(X509_check_host(cert, "example.com", 0, 0, nullptr), 0);
  EXPECT_EQ(EVP_PKEY_get_base_id(identity->key.get()), EVP_PKEY_EC);
  EXPECT_EQ(identity->NotAfter() - kNow, kIdentityValidityDays * kDay);
}

TEST(UserIdentity, ProblemsAreFoundAtTheirTime) {
  const auto identity = MakeUserIdentity(kNow);
  ASSERT_TRUE(identity);
  const auto other = MakeUserIdentity(kNow);
  UserIdentity mixed{X509Ptr(X509_dup(identity->ca.get())), X509Ptr(X509_dup(identity->certificate.get())),
                     EvpPkeyPtr(EVP_PKEY_dup(other->key.get()))};
  UserIdentity foreign_ca{X509Ptr(X509_dup(other->ca.get())), X509Ptr(X509_dup(identity->certificate.get())),
                          EvpPkeyPtr(EVP_PKEY_dup(identity->key.get()))};
  const std::time_t end = identity->NotAfter();
  const struct {
    const UserIdentity* identity;
    std::time_t at;
    std::string problem;
  } cases[] = {
      {&*identity, kNow, ""},
      {&*identity, end - 31 * kDay, ""},
      {&*identity, end - 29 * kDay, "ends within 30 days"},
      {&*identity, end + kDay, "not valid for localhost: certificate has expired"},
      {&*identity, kNow - 2 * 3600, "not valid for localhost: certificate is not yet valid"},
      {&mixed, kNow, "the key does not belong to the certificate"},
      {&foreign_ca, kNow, "not valid for localhost: unable to get local issuer certificate"},
  };
  for (const auto& c : cases) EXPECT_EQ(IdentityProblem(*c.identity, c.at), c.problem) << c.at - kNow;
  EXPECT_TRUE(IsRenewalProblem("ends within 30 days"));
}

// What a folder holds before a start, and whether that start keeps the
// identity or makes a new one (and says why).
TEST(IdentityStore, KeepsAServableIdentityAndReplacesAnyOther) {
  using Damage = std::function<void(const fs::path&)>;
  const auto write = [](const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; };
  const struct {
    const char* name;
    Damage damage;
    std::string replaced;  // empty: kept
  } cases[] = {
      {"untouched", [](const fs::path&) {}, ""},
      {"a wider folder", [](const fs::path& f) { fs::permissions(f, fs::perms::all); }, ""},
      {"missing", [](const fs::path& f) { fs::remove_all(f); }, "missing"},
      {"no key", [](const fs::path& f) { fs::remove(f / "server.key"); }, "server.key: No such file or directory"},
      {"a garbled certificate", [&](const fs::path& f) { write(f / "server.pem", "-----BEGIN CERT"); },
       "server.pem: not a PEM certificate"},
      {"a key readable by others",
       [](const fs::path& f) { fs::permissions(f / "server.key", fs::perms::owner_read | fs::perms::others_read); },
       "server.key: readable by others"},
      {"a key that is a link",
       [](const fs::path& f) {
         fs::rename(f / "server.key", f.parent_path() / "elsewhere");
         fs::create_symlink(f.parent_path() / "elsewhere", f / "server.key");
       },
       "server.key: Too many levels of symbolic links"},
      {"a huge file", [&](const fs::path& f) { write(f / "ca.pem", std::string(65537, 'x')); },
       "ca.pem: not a readable file of at most 64 KiB"},
      {"another identity's key",
       [&](const fs::path& f) {
         test::ScratchDir other;
         std::string problem;
         ASSERT_TRUE(StoreUserIdentity(other.path(), *MakeUserIdentity(kNow), problem));
         fs::copy_file(other.path() / "server.key", f / "server.key", fs::copy_options::overwrite_existing);
       },
       "the key does not belong to the certificate"},
      {"an identity that ends in 10 days",
       [](const fs::path& f) {
         std::string problem;
         ASSERT_TRUE(StoreUserIdentity(f, *MakeUserIdentity(kNow - (kIdentityValidityDays - 10) * kDay), problem));
       },
       "ends within 30 days"},
  };
  for (const auto& c : cases) {
    test::ScratchDir data;
    const fs::path folder = data.path() / "vorlink/identity";
    const auto first = EnsureUserIdentity(folder, kNow);
    ASSERT_TRUE(first.identity) << first.problem;
    EXPECT_EQ(first.replaced, "missing");
    const std::string first_ca = test::ReadFileText(folder / "ca.pem");
    c.damage(folder);
    const auto second = EnsureUserIdentity(folder, kNow);
    ASSERT_TRUE(second.identity) << c.name << ": " << second.problem;
    EXPECT_EQ(second.replaced, c.replaced) << c.name;
    EXPECT_EQ(test::ReadFileText(folder / "ca.pem") == first_ca, c.replaced.empty()) << c.name;
    EXPECT_EQ(IdentityProblem(*second.identity, kNow), "") << c.name;
    // Only the three files, the key private to the user, the folder too;
    // never the authority's key.
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"ca.pem", "server.key", "server.pem"})) << c.name;
    EXPECT_EQ(Mode(folder), 0700u) << c.name;
    EXPECT_EQ(Mode(folder / "server.key"), 0600u) << c.name;
    std::string problem;
    const auto loaded = LoadUserIdentity(folder, problem);
    ASSERT_TRUE(loaded) << problem;
    EXPECT_EQ(X509_cmp(loaded->certificate.get(), second.identity->certificate.get()), 0) << c.name;
  }
}

TEST(IdentityStore, AFolderThatCannotBeMadeIsAProblemNotACrash) {
  for (const fs::path& folder : {fs::path("/dev/null/identity"), fs::path()}) {
    const auto ensured = EnsureUserIdentity(folder, kNow);
    EXPECT_FALSE(ensured.identity) << folder;
    EXPECT_FALSE(ensured.problem.empty()) << folder;
  }
}

}  // namespace
}  // namespace vorlink
