#pragma once
// NSS's certutil as the trust installer runs it: where it is found and the
// import of the agent's CA into one NSS database.

#include <filesystem>
#include <optional>
#include <string>

#include "platform/process/background_commands.h"

namespace vorlink {

inline constexpr const char* kCaNickname = "ORVA_SSLCA";
inline constexpr const char* kCaTrustFlags = "CT,c,c";

// certutil from the NSS tools folder when it ships one, else from PATH.
std::optional<std::string> FindCertutil(const std::filesystem::path& tools_folder);

// certutil -A -n ORVA_SSLCA -i <ca_file> -t CT,c,c -d <database>
platform::Command ImportCaCommand(const std::string& certutil, const std::filesystem::path& ca_file,
                                  const std::string& database);

}  // namespace vorlink
