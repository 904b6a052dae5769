#include "p11crypto/pkcs11/signing_identity.h"

#include "p11crypto/members/member_support.h"

namespace p11crypto {
namespace {

std::string AsText(const Bytes& der) { return std::string(der.begin(), der.end()); }

}  // namespace

std::int32_t TokenCertificates(ComponentState& state, std::vector<TokenCertificate>& out) {
  std::int32_t code = kOk;
  TokenSession* token = SessionOrFail(state, code);
  if (!token) return code;
  const CK_RV rv = token->Certificates(out);
  return rv == CKR_OK ? kOk : FailCkr(state, rv, "C_FindObjects");
}

std::int32_t ChosenCertificate(ComponentState& state, TokenCertificate& out) {
  std::vector<TokenCertificate> certificates;
  if (const std::int32_t code = TokenCertificates(state, certificates); code != kOk) return code;
  if (certificates.empty()) return Fail(state, kCertificateNotFound, "the token holds no certificate");
  for (TokenCertificate& certificate : certificates) {
    if (!state.chosen_certificate.empty() && AsText(certificate.der) == state.chosen_certificate) {
      out = std::move(certificate);
      return kOk;
    }
  }
  if (!state.chosen_certificate.empty()) {
    return Fail(state, kCertificateNotFound, "the certificate chosen by getCardCert is no longer on the token");
  }
  // A key that wants the PIN again before each use (a PIV card's signature
  // key) needs a login per operation, which the component does not make:
  // one that works after Login comes first.
  const TokenCertificate* usable = &certificates.front();
  bool visible = false;
  for (const TokenCertificate& certificate : certificates) {
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    if (state.token->FindPrivateKey(certificate.id, key) != CKR_OK) continue;
    if (!state.token->WantsPinEachUse(key)) {
      usable = &certificate;
      break;
    }
    if (!visible) usable = &certificate;
    visible = true;
  }
  out = *usable;
  return kOk;
}

std::int32_t SigningKey(ComponentState& state, TokenCertificate& certificate, CK_OBJECT_HANDLE& key) {
  // Repeated signatures with the same certificate skip the object search.
  if (state.token && state.token->has_session()) {
    const auto& entry = state.token->signing_entry();
    if (entry && (state.chosen_certificate.empty() || AsText(entry->certificate.der) == state.chosen_certificate)) {
      certificate = entry->certificate;
      key = entry->key;
      return kOk;
    }
  }
  if (const std::int32_t code = ChosenCertificate(state, certificate); code != kOk) return code;
  const CK_RV rv = state.token->FindPrivateKey(certificate.id, key);
  if (rv == CKR_OK) state.token->signing_entry() = TokenSession::SigningEntry{certificate, key, nullptr};
  if (rv == CKR_KEY_HANDLE_INVALID) {
    return Fail(state, kKeyNotFound, "no private key for the certificate is visible: log in first (Login)");
  }
  return rv == CKR_OK ? kOk : FailCkr(state, rv, "C_FindObjects");
}

}  // namespace p11crypto
