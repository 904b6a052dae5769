#pragma once
// Small helpers the member groups share.

#include <optional>
#include <string>

#include "p11crypto/component_state.h"
#include "p11crypto/pkcs11/pkcs11.h"
#include "p11crypto/pkcs11/token_session.h"

namespace p11crypto {

// Records a PKCS#11 failure of `what` and returns its CKR_ value; when the
// chosen token has gone from its slot meanwhile, CKR_TOKEN_NOT_PRESENT
// with words that say so.
std::int32_t FailCkr(ComponentState& state, CK_RV rv, const std::string& what);

// The token session with an open session on the chosen token, or null after
// recording why there is none (kNotInitialized, kNoTokenSelected, or
// CKR_TOKEN_NOT_PRESENT when the token is out of its slot).
TokenSession* SessionOrFail(ComponentState& state, std::int32_t& code);

// Overwrites a secret (a PIN, a key) before its memory is given back.
void Wipe(std::string& secret);

// A member's integer answer.
inline Value Code(std::int32_t code) { return Value::Int(code); }

}  // namespace p11crypto
