#include "trust/certutil.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <sstream>

namespace vorlink {
namespace fs = std::filesystem;
namespace {

std::string Database(const fs::path& folder) { return "sql:" + folder.string(); }

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::optional<std::string> FindCertutil(const fs::path& tools_folder) {
  const fs::path shipped = tools_folder / "certutil";
  if (::access(shipped.c_str(), X_OK) == 0) return shipped.string();
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const fs::path candidate = fs::path(dir.empty() ? "." : dir) / "certutil";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return std::nullopt;
}

platform::Command CreateDatabaseCommand(const std::string& certutil, const fs::path& folder) {
  return {certutil, "-N", "--empty-password", "-d", Database(folder)};
}

platform::Command ListCommand(const std::string& certutil, const fs::path& folder) {
  return {certutil, "-L", "-d", Database(folder)};
}

platform::Command ListNicknameCommand(const std::string& certutil, const fs::path& folder,
                                      const std::string& nickname) {
  return {certutil, "-L", "-d", Database(folder), "-n", nickname, "-a"};
}

platform::Command DeleteCommand(const std::string& certutil, const fs::path& folder, const std::string& nickname) {
  return {certutil, "-D", "-d", Database(folder), "-n", nickname};
}

platform::Command ImportCaCommand(const std::string& certutil, const fs::path& folder, const std::string& nickname,
                                  const fs::path& ca_file) {
  return {certutil, "-A", "-d", Database(folder), "-n", nickname, "-t", kCaTrustFlags, "-i", ca_file.string()};
}

// certutil -L prints a blank line, two header lines and a blank line, then
// one row per certificate: the nickname padded with spaces, then the trust
// attributes (three comma-separated fields, no spaces).
std::vector<NssEntry> ParseCertificateList(const std::string& listing) {
  std::vector<NssEntry> entries;
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    line = Trim(line);
    const auto gap = line.find_last_of(" \t");
    if (gap == std::string::npos) continue;
    const std::string trust = line.substr(gap + 1);
    const std::string nickname = Trim(line.substr(0, gap));
    if (std::count(trust.begin(), trust.end(), ',') != 2 || nickname.empty()) continue;
    if (nickname == "Certificate Nickname" || trust == "SSL,S/MIME,JAR/XPI") continue;
    entries.push_back({nickname, trust});
  }
  return entries;
}

std::vector<std::vector<std::uint8_t>> PemCertificates(const std::string& text) {
  std::vector<std::vector<std::uint8_t>> certificates;
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())), &BIO_free);
  if (!bio) return certificates;
  while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    unsigned char* der = nullptr;
    const int length = i2d_X509(cert, &der);
    if (length > 0) certificates.emplace_back(der, der + length);
    OPENSSL_free(der);
    X509_free(cert);
  }
  ERR_clear_error();  // the end of the text reads as an error
  return certificates;
}

}  // namespace vorlink
