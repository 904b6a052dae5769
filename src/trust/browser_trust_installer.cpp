#include "trust/browser_trust_installer.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "log/diagnostic_log.h"
#include "trust/firefox_profiles.h"
#include "trust/override_entry.h"
#include "trust/override_file.h"

namespace vorlink {
namespace fs = std::filesystem;

namespace {

constexpr const char* kNickname = "ORVA_SSLCA";
constexpr const char* kTrustFlags = "CT,c,c";

// certutil from the NSS tools folder when it ships one, else from PATH.
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

platform::Command ImportCommand(const std::string& certutil, const fs::path& ca_file,
                                const std::string& database) {
  return {certutil, "-A", "-n", kNickname, "-i", ca_file.string(), "-t", kTrustFlags, "-d", database};
}

std::optional<std::string> ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string content((std::istreambuf_iterator<char>(in)), {});
  if (in.bad()) return std::nullopt;
  return content;
}

// Brings one profile's override file up to date. False when the profile is
// to be skipped entirely (an existing file that is empty or unreadable).
bool UpdateOverrideFile(DiagnosticLog& log, const fs::path& profile,
                        const std::vector<std::string>& entries) {
  const fs::path file = profile / "cert_override.txt";
  std::error_code ec;
  std::string content;
  if (fs::exists(file, ec)) {
    auto existing = ReadWholeFile(file);
    if (!existing || existing->empty()) return false;
    auto updated = AddMissingEntries(*existing, entries);
    if (!updated) return true;
    log.LogDebug("更新 Firefox 例外清單檔 cert_override.txt 檔");
    content = std::move(*updated);
  } else {
    log.LogDebug("建立 Firefox 例外清單檔 cert_override.txt 檔");
    content = NewOverrideFile(entries);
  }
  const bool stored = WriteFileAtomically(file, content) > 0;
  log.LogDebug(stored ? "cert_override.txt 檔存檔成功" : "cert_override.txt 檔存檔失敗");
  return true;
}

// The shared NSS database: created when missing, then the CA imported.
void TrustInSharedNssDatabase(DiagnosticLog& log, const TrustInstallSettings& settings,
                              const std::string& certutil, const CommandLauncher& launch) {
  const fs::path db = settings.home / ".pki/nssdb";
  std::error_code ec;
  fs::create_directories(db, ec);
  if (ec) return;
  const std::string database = "sql:" + db.string();
  std::vector<platform::Command> commands;
  if (!fs::exists(db / "cert9.db", ec)) commands.push_back({certutil, "-N", "--empty-password", "-d", database});
  commands.push_back(ImportCommand(certutil, settings.nss_tools_folder / "ORVA.crt", database));
  log.LogDebug("匯入 ORVA_SSLCA 到共用 NSS 憑證資料庫", db.string());
  launch(std::move(commands));
}

}  // namespace

TrustInstallSettings TrustSettingsFromEnvironment(const fs::path& executable_folder) {
  TrustInstallSettings settings;
  const char* home = std::getenv("HOME");
  const char* config = std::getenv("XDG_CONFIG_HOME");
  settings.home = home ? home : "";
  settings.xdg_config_home = config ? config : "";
  settings.nss_tools_folder = executable_folder / "nss";
  return settings;
}

void InstallFirefoxTrust(DiagnosticLog& log, std::span<const std::uint8_t> certificate_der,
                         const TrustInstallSettings& settings, const CommandLauncher& launch) {
  const auto certutil = FindCertutil(settings.nss_tools_folder);
  if (certutil && !settings.home.empty()) TrustInSharedNssDatabase(log, settings, *certutil, launch);

  const auto roots = ExistingFirefoxRoots(settings.home, settings.xdg_config_home);
  if (roots.empty()) {
    log.LogError("執行 FindFirstFile(firefoxProfileSearchPattern, &ffd) 返回 INVALID_HANDLE_VALUE");
    return;
  }
  ::setenv("NSS_DEFAULT_DB_TYPE", "sql", 1);
  const auto fields = ComputeOverrideFields(certificate_der);
  if (!fields) return;
  std::vector<std::string> entries;
  for (int port : settings.ports) entries.push_back(OverrideEntryLine(port, *fields));

  for (const auto& profile : FindFirefoxProfiles(roots)) {
    if (!UpdateOverrideFile(log, profile, entries)) continue;
    if (certutil) launch({ImportCommand(*certutil, settings.nss_tools_folder / "ORVA.crt", profile.string())});
  }
}

}  // namespace vorlink
