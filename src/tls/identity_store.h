#pragma once
// The user identity's files: the authority (ca.pem, what browsers and
// curl are given to trust), the server certificate (server.pem) and its
// key (server.key), PEM, in a folder of the user's (mode 0700; the key
// 0600 from the moment it is created). At each start the agent serves the
// identity it finds there, or makes a new one when the files are missing,
// damaged or within kIdentityRenewalDays of their end.

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

#include "tls/user_identity.h"

namespace vorlink {

inline constexpr const char* kIdentityCaFile = "ca.pem";
inline constexpr const char* kIdentityCertificateFile = "server.pem";
inline constexpr const char* kIdentityKeyFile = "server.key";

// ${XDG_DATA_HOME:-$HOME/.local/share}/vorlink/identity; empty when
// neither variable is set.
std::filesystem::path DefaultIdentityFolder();

// The identity in `folder`. Empty, with the reason in `problem`, when a
// file is missing or unreadable, is not PEM of the right kind, or the key
// file can be read by anyone but its owner. Checks nothing else.
std::optional<UserIdentity> LoadUserIdentity(const std::filesystem::path& folder, std::string& problem);

// Writes the three files, each through a temporary file and a rename,
// creating the folder (0700) and tightening a wider one. False, with the
// reason, on any failure.
bool StoreUserIdentity(const std::filesystem::path& folder, const UserIdentity& identity, std::string& problem);

struct EnsuredIdentity {
  std::optional<UserIdentity> identity;  // empty: nothing can be served
  std::string replaced;                  // why a new identity was made ("missing", ...); empty when the old one serves
  std::string problem;                   // why there is no identity
};

// The identity in `folder` when it can be served at `now`, else a new one
// stored there.
EnsuredIdentity EnsureUserIdentity(const std::filesystem::path& folder, std::time_t now);

}  // namespace vorlink
