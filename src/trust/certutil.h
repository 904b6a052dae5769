#pragma once
// NSS's certutil as the trust installation runs it: where it is found, the
// commands it is given, and how its listings read.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/process/run_command.h"

namespace vorlink {

// The nickname under which earlier versions imported the CA they shared
// with every installation.
inline constexpr const char* kRetiredCaNickname = "ORVA_SSLCA";
// A trusted issuer of TLS server and client certificates (what Firefox's
// certificate manager sets for an authority trusted for web sites).
inline constexpr const char* kCaTrustFlags = "CT,c,c";

// Runs one certutil command and returns its exit status and output. Tests
// stand in for the real one.
using CertutilRunner = std::function<platform::CommandOutput(const platform::Command&)>;

// certutil from the NSS tools folder when it ships one, else from PATH.
std::optional<std::string> FindCertutil(const std::filesystem::path& tools_folder);

// The commands, each on the database in `folder` (as "sql:<folder>").
platform::Command CreateDatabaseCommand(const std::string& certutil, const std::filesystem::path& folder);
platform::Command ListCommand(const std::string& certutil, const std::filesystem::path& folder);
// The certificates under one nickname, as PEM.
platform::Command ListNicknameCommand(const std::string& certutil, const std::filesystem::path& folder,
                                      const std::string& nickname);
platform::Command DeleteCommand(const std::string& certutil, const std::filesystem::path& folder,
                                const std::string& nickname);
platform::Command ImportCaCommand(const std::string& certutil, const std::filesystem::path& folder,
                                  const std::string& nickname, const std::filesystem::path& ca_file);

struct NssEntry {
  std::string nickname;
  std::string trust;  // "CT,c,c", ",,", ...
};

// The rows of `certutil -L`: nickname and trust attributes, header skipped.
std::vector<NssEntry> ParseCertificateList(const std::string& listing);

// The DER of each PEM certificate in `text` (certutil -L -n NAME -a),
// in order; blocks that do not parse are left out.
std::vector<std::vector<std::uint8_t>> PemCertificates(const std::string& text);

}  // namespace vorlink
