#pragma once
// What the user's browsers are to trust (the authority of the agent's own
// identity, and its server certificate for Firefox's exception entries)
// and what earlier versions asked them to trust, which goes.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vorlink {

struct AgentTrust {
  std::vector<std::uint8_t> ca_der;
  std::filesystem::path ca_file;  // the same authority as a file, for certutil
  std::string ca_nickname;        // its name in NSS databases (its common name)
  std::vector<std::uint8_t> server_der;
  // The authority every earlier installation shared (nickname ORVA_SSLCA)
  // and the server certificate it served, whose key shipped in the program.
  std::vector<std::uint8_t> retired_ca_der;
  std::vector<std::uint8_t> retired_server_der;
};

}  // namespace vorlink
