#pragma once
// Makes the user's browsers trust the agent's localhost certificate at each
// start: certificate exception entries and an NSS import of the agent's CA
// for every Firefox profile, and the same CA in the shared NSS database that
// Chromium and most other Linux browsers read (~/.pki/nssdb).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/process/background_commands.h"

namespace vorlink {

class DiagnosticLog;

struct TrustInstallSettings {
  std::filesystem::path home;
  std::string xdg_config_home;             // empty: ~/.config
  std::filesystem::path nss_tools_folder;  // holds ORVA.crt, and certutil when shipped
  std::vector<int> ports;                  // the agent's ports, handed down by the host
};

// Settings for this user, with the NSS tools folder beside the executable.
TrustInstallSettings TrustSettingsFromEnvironment(const std::filesystem::path& executable_folder);

// How certutil runs: by default in the background, never waited for.
using CommandLauncher = std::function<void(std::vector<platform::Command>)>;

void InstallFirefoxTrust(DiagnosticLog& log, std::span<const std::uint8_t> certificate_der,
                         const TrustInstallSettings& settings,
                         const CommandLauncher& launch = platform::RunInBackground);

}  // namespace vorlink
