#pragma once
// The certificate and private key that token work uses: the certificate
// getCardCert chose, else the first certificate on the token whose private
// key the session can see (which needs a login) and signs without the PIN
// again before each use, else the first whose key it can see, else the
// first one.

#include <cstdint>

#include "p11crypto/component_state.h"
#include "p11crypto/pkcs11/token_session.h"

namespace p11crypto {

// Every certificate on the chosen token, in object order. Returns 0, or
// records and returns why there is none to read (no session, a CKR_ value).
std::int32_t TokenCertificates(ComponentState& state, std::vector<TokenCertificate>& out);

// On success fills `out` and returns 0; otherwise records and returns the
// error (no session, no certificate on the token).
std::int32_t ChosenCertificate(ComponentState& state, TokenCertificate& out);

// The chosen certificate with its private key; kKeyNotFound (with a hint
// to log in) when the session cannot see the key.
std::int32_t SigningKey(ComponentState& state, TokenCertificate& certificate, CK_OBJECT_HANDLE& key);

}  // namespace p11crypto
