#pragma once
// The token certificate that the encryption members use when the page
// names none, and its private key: getCardCert's choice, or before any
// choice the first certificate the token lists.

#include <cstdint>

#include "p11crypto/component_state.h"
#include "p11crypto/token_session.h"

namespace p11crypto {

// Needs an open session (SessionOrFail). kCertificateNotFound when the
// token has no certificate, or no longer has the chosen one.
std::int32_t ChosenCertificate(ComponentState& state, TokenSession& token, TokenCertificate& out);

// The certificate and its private key. Most tokens show private keys only
// after Login, so a missing key fails with kKeyNotFound and says so.
std::int32_t ChosenPrivateKey(ComponentState& state, TokenSession& token, TokenCertificate& certificate,
                              CK_OBJECT_HANDLE& key);

}  // namespace p11crypto
