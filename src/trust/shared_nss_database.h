#pragma once
// The user's shared NSS database, which Chromium and most other Linux
// browsers read: created when missing, then the agent's CA imported.

#include <filesystem>
#include <string>
#include <vector>

#include "platform/process/background_commands.h"

namespace vorlink {

class DiagnosticLog;

// The commands that make ~/.pki/nssdb trust the CA in `ca_file`; the folder
// is created here. Empty when it cannot be.
std::vector<platform::Command> SharedNssDatabaseCommands(DiagnosticLog& log, const std::filesystem::path& home,
                                                         const std::string& certutil,
                                                         const std::filesystem::path& ca_file);

}  // namespace vorlink
