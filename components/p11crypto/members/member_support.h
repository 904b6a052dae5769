#pragma once
// Small helpers the member groups share.

#include <optional>
#include <string>

#include "p11crypto/component_state.h"
#include "p11crypto/pkcs11/pkcs11.h"
#include "p11crypto/pkcs11/token_session.h"

namespace p11crypto {

// Records a PKCS#11 failure of `what` and returns its CKR_ value.
std::int32_t FailCkr(ComponentState& state, CK_RV rv, const std::string& what);

// The token session with an open session on the chosen token, or null after
// recording why there is none (kNotInitialized or kNoTokenSelected).
TokenSession* SessionOrFail(ComponentState& state, std::int32_t& code);

// Overwrites a secret (a PIN, a key) before its memory is given back.
void Wipe(std::string& secret);

// A member's integer answer.
inline Value Code(std::int32_t code) { return Value::Int(code); }

}  // namespace p11crypto
