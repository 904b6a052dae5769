#pragma once
// The per-user TLS identity the agent serves: a certificate authority of
// its own, allowed by critical name constraints to vouch only for
// localhost, 127.0.0.1 and ::1 (path length 0), one server certificate it
// signed for exactly those three names, and that certificate's key. The
// authority's key exists only while the identity is made: it signs the
// server certificate and is freed, so nothing can ever be signed with it
// again, and a new identity means a new authority.

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "tls/tls_credentials.h"

namespace vorlink {

// Both certificates are valid this long (from an hour before they are
// made): see docs/security.md for why ten years.
inline constexpr int kIdentityValidityDays = 3650;
// An identity this close to its end is replaced at start-up.
inline constexpr int kIdentityRenewalDays = 30;
// Every authority's subject begins with this; the rest is a random id, so
// that each identity has a subject (and NSS nickname) of its own.
inline constexpr const char* kIdentityCaNamePrefix = "Vorlink45 Local CA ";

struct UserIdentity {
  X509Ptr ca;
  X509Ptr certificate;
  EvpPkeyPtr key;

  // The authority's common name, which is also its nickname in NSS.
  std::string CaName() const;
  std::vector<std::uint8_t> CaDer() const;
  std::vector<std::uint8_t> CertificateDer() const;
  // The earlier of the two certificates' ends.
  std::time_t NotAfter() const;
};

// A new identity whose certificates start an hour before `now` and last
// `validity_days`. Empty when OpenSSL fails.
std::optional<UserIdentity> MakeUserIdentity(std::time_t now, int validity_days = kIdentityValidityDays);

// Why an identity cannot be served at `now`; empty when it can: the key
// belongs to the certificate, the certificate chains to the authority for
// each loopback name as a TLS client checks it (signature, validity,
// purpose, name constraints), the authority is constrained as above, and
// neither certificate ends within kIdentityRenewalDays.
std::string IdentityProblem(const UserIdentity& identity, std::time_t now);

// True when `problem` (from IdentityProblem) says only that the identity
// ends soon.
bool IsRenewalProblem(const std::string& problem);

}  // namespace vorlink
