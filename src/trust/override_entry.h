#pragma once
// The certificate exception lines Firefox keeps in cert_override.txt, one
// per agent port, computed from the agent's own server certificate.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorlink {

struct OverrideFields {
  std::string fingerprint;   // SHA-256 as 32 upper-case hex pairs joined by ':'
  std::string database_key;  // Base64 of module id, slot id, lengths, serial, issuer
};

// Empty when the bytes are not a DER certificate.
std::optional<OverrideFields> ComputeOverrideFields(std::span<const std::uint8_t> certificate_der);

// "localhost:P<TAB>OID.2.16.840.1.101.3.4.2.1<TAB>fingerprint<TAB>U<TAB>key"
std::string OverrideEntryLine(int port, const OverrideFields& fields);

// Whether a line of cert_override.txt (either of the forms Firefox reads:
// "host:port<TAB>..." or "host:port:attributes<TAB>...") is an exception
// that must go: one for the retired certificate, whose key shipped in the
// program, on any site; or one for another certificate than `current` on
// one of the agent's ports of a loopback name, which would let a server
// of another user's pass for the agent.
bool IsStaleOverrideLine(std::string_view line, const std::string& current_fingerprint,
                         const std::string& retired_fingerprint, const std::vector<int>& ports);

}  // namespace vorlink
