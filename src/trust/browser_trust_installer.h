#pragma once
// Makes the user's browsers trust the agent's own authority, and only it:
// for every Firefox profile, exception entries for the agent's server
// certificate (stale ones dropped) and an NSS import; for Chromium and
// the other browsers that read a shared NSS database, the import into
// each such database (nss_databases.h). Every database loses what earlier
// identities and versions put there (nss_database_trust.h).

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "trust/agent_trust.h"
#include "trust/certutil.h"

namespace vorlink {

class DiagnosticLog;

struct TrustInstallSettings {
  std::filesystem::path home;
  std::string xdg_config_home;             // empty: ~/.config
  std::string xdg_data_home;               // empty: ~/.local/share
  std::filesystem::path nss_tools_folder;  // certutil, when one is shipped
  std::vector<int> ports;                  // the agent's ports, handed down by the host
};

// Settings for this user, with the NSS tools folder beside the executable.
TrustInstallSettings TrustSettingsFromEnvironment(const std::filesystem::path& executable_folder);

// certutil run for real, each command bounded in time.
CertutilRunner RealCertutilRunner(int stop_fd = -1);

class BrowserTrustInstaller {
 public:
  BrowserTrustInstaller(DiagnosticLog& log, AgentTrust trust, TrustInstallSettings settings, CertutilRunner run);

  // Every location there is now. With no Firefox at all, one ERROR line.
  void InstallEverywhere();
  // Firefox profiles that have appeared since: only those not yet trusted,
  // and those whose import failed and may be tried again.
  void InstallNewProfiles();
  // True while a profile whose import failed waits to be tried again: a
  // Firefox making its first profile holds the new database for a moment,
  // and certutil fails on it. Each profile is tried a few times at most.
  bool HasProfilesToRetry() const { return !tries_.empty(); }
  // The folders in which a new Firefox profile would show: each profile
  // root, or where one does not exist yet, its nearest existing folder
  // inside the home.
  std::vector<std::filesystem::path> WatchFolders() const;

 private:
  void TrustProfile(const std::filesystem::path& profile);

  DiagnosticLog& log_;
  const AgentTrust trust_;
  const TrustInstallSettings settings_;
  const CertutilRunner run_;
  std::vector<std::string> entries_;  // the override entries, one per port
  std::string fingerprint_, retired_fingerprint_;
  std::set<std::filesystem::path> trusted_profiles_;
  std::map<std::filesystem::path, int> tries_;  // profiles whose import failed -> tries so far
};

}  // namespace vorlink
