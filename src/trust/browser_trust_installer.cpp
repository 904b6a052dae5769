#include "trust/browser_trust_installer.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "log/diagnostic_log.h"
#include "trust/firefox_override_update.h"
#include "trust/firefox_profiles.h"
#include "trust/nss_database_trust.h"
#include "trust/nss_databases.h"
#include "trust/override_entry.h"

namespace vorlink {
namespace fs = std::filesystem;
namespace {

// certutil answers in well under a second; one stuck on a locked database
// must not hold the trust thread (or the agent's shutdown) for long.
constexpr std::chrono::seconds kCertutilTimeout{10};

// A profile whose database refuses the import this often is left alone
// until the next start.
constexpr int kMostProfileTries = 5;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

TrustInstallSettings TrustSettingsFromEnvironment(const fs::path& executable_folder) {
  TrustInstallSettings settings;
  settings.home = Environment("HOME");
  settings.xdg_config_home = Environment("XDG_CONFIG_HOME");
  settings.xdg_data_home = Environment("XDG_DATA_HOME");
  settings.nss_tools_folder = executable_folder / "nss";
  return settings;
}

CertutilRunner RealCertutilRunner(int stop_fd) {
  return [stop_fd](const platform::Command& command) {
    return platform::RunAndCapture(command, kCertutilTimeout, stop_fd);
  };
}

BrowserTrustInstaller::BrowserTrustInstaller(DiagnosticLog& log, AgentTrust trust, TrustInstallSettings settings,
                                             CertutilRunner run)
    : log_(log), trust_(std::move(trust)), settings_(std::move(settings)), run_(std::move(run)) {
  if (const auto fields = ComputeOverrideFields(trust_.server_der)) {
    fingerprint_ = fields->fingerprint;
    for (int port : settings_.ports) entries_.push_back(OverrideEntryLine(port, *fields));
  }
  if (const auto retired = ComputeOverrideFields(trust_.retired_server_der)) {
    retired_fingerprint_ = retired->fingerprint;
  }
}

void BrowserTrustInstaller::InstallEverywhere() {
  if (settings_.home.empty()) return;
  const auto certutil = FindCertutil(settings_.nss_tools_folder);
  if (certutil) {
    for (const auto& db : BrowserNssDatabases(settings_.home, settings_.xdg_data_home)) {
      TrustNssDatabase(log_, run_, *certutil, db, trust_);
    }
  }
  if (ExistingFirefoxRoots(settings_.home, settings_.xdg_config_home).empty()) {
    log_.LogError("執行 FindFirstFile(firefoxProfileSearchPattern, &ffd) 返回 INVALID_HANDLE_VALUE");
    return;
  }
  InstallNewProfiles();
}

void BrowserTrustInstaller::InstallNewProfiles() {
  const auto roots = ExistingFirefoxRoots(settings_.home, settings_.xdg_config_home);
  for (const auto& profile : FindFirefoxProfiles(roots)) {
    if (!trusted_profiles_.count(profile)) TrustProfile(profile);
  }
}

void BrowserTrustInstaller::TrustProfile(const fs::path& profile) {
  if (entries_.empty()) return;
  const auto stale = [this](std::string_view line) {
    return IsStaleOverrideLine(line, fingerprint_, retired_fingerprint_, settings_.ports);
  };
  // An override file that is empty or unreadable: the profile is not ours
  // to touch (as before), and is not tried again until the next start.
  const bool usable = UpdateOverrideFile(log_, profile, entries_, stale);
  const auto certutil = FindCertutil(settings_.nss_tools_folder);
  const bool done = !usable || !certutil || TrustNssDatabase(log_, run_, *certutil, profile, trust_);
  if (done || ++tries_[profile] >= kMostProfileTries) {
    trusted_profiles_.insert(profile);
    tries_.erase(profile);
  }
}

std::vector<fs::path> BrowserTrustInstaller::WatchFolders() const {
  std::vector<fs::path> folders;
  std::error_code ec;
  for (fs::path folder : FirefoxRoots(settings_.home, settings_.xdg_config_home)) {
    while (!fs::is_directory(folder, ec) && folder != settings_.home && folder.has_parent_path() &&
           folder != folder.parent_path()) {
      folder = folder.parent_path();
    }
    if (fs::is_directory(folder, ec) && std::find(folders.begin(), folders.end(), folder) == folders.end()) {
      folders.push_back(folder);
    }
  }
  return folders;
}

}  // namespace vorlink
