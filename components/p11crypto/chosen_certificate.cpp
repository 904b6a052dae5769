#include "p11crypto/chosen_certificate.h"

#include <algorithm>

#include "p11crypto/member_support.h"

namespace p11crypto {

std::int32_t ChosenCertificate(ComponentState& state, TokenSession& token, TokenCertificate& out) {
  std::vector<TokenCertificate> certificates;
  const CK_RV rv = token.Certificates(certificates);
  if (rv != CKR_OK) return FailCkr(state, rv, "C_FindObjects (certificates)");
  const std::string& chosen = state.chosen_certificate;
  const auto found = std::find_if(certificates.begin(), certificates.end(), [&](const TokenCertificate& c) {
    return chosen.empty() || std::equal(c.der.begin(), c.der.end(), chosen.begin(), chosen.end());
  });
  if (found == certificates.end()) {
    return Fail(state, kCertificateNotFound,
                chosen.empty() ? "the token holds no certificate" : "the chosen certificate is no longer on the token");
  }
  out = std::move(*found);
  return kOk;
}

std::int32_t ChosenPrivateKey(ComponentState& state, TokenSession& token, TokenCertificate& certificate,
                              CK_OBJECT_HANDLE& key) {
  if (const std::int32_t code = ChosenCertificate(state, token, certificate); code != kOk) return code;
  const CK_RV rv = token.FindPrivateKey(certificate.id, key);
  if (rv == CKR_KEY_HANDLE_INVALID) {
    return Fail(state, kKeyNotFound, "no private key for the certificate on the token (Login first)");
  }
  return rv == CKR_OK ? kOk : FailCkr(state, rv, "C_FindObjects (private key)");
}

}  // namespace p11crypto
