#include "trust/browser_trust_installer.h"

#include <cstdlib>

#include "log/diagnostic_log.h"
#include "trust/certutil.h"
#include "trust/firefox_override_update.h"
#include "trust/firefox_profiles.h"
#include "trust/override_entry.h"
#include "trust/shared_nss_database.h"

namespace vorlink {
namespace fs = std::filesystem;

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
  const fs::path ca_file = settings.nss_tools_folder / "ORVA.crt";
  if (certutil && !settings.home.empty()) {
    auto commands = SharedNssDatabaseCommands(log, settings.home, *certutil, ca_file);
    if (!commands.empty()) launch(std::move(commands));
  }

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
    if (certutil) launch({ImportCaCommand(*certutil, ca_file, profile.string())});
  }
}

}  // namespace vorlink
