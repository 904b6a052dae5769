#include "p11crypto/members/member_support.h"

#include <openssl/crypto.h>

#include "p11crypto/pkcs11/pkcs11_errors.h"

namespace p11crypto {

namespace {

// Answers in which the token took part: it is there.
bool TokenAnswered(CK_RV rv) {
  return rv == CKR_PIN_INCORRECT || rv == CKR_PIN_LOCKED || rv == CKR_PIN_LEN_RANGE || rv == CKR_PIN_INVALID ||
         rv == CKR_PIN_EXPIRED;
}

// `detail` says what the module made of it, if anything.
std::int32_t TokenMissing(ComponentState& state, const std::string& detail) {
  return Fail(state, static_cast<std::int32_t>(CKR_TOKEN_NOT_PRESENT),
              "the card (or token) \"" + state.token->selected().label + "\" is not in its reader: " +
                  DescribeCkr(CKR_TOKEN_NOT_PRESENT) + detail + "; once it is back, choose it again with Select_slot");
}

}  // namespace

std::int32_t FailCkr(ComponentState& state, CK_RV rv, const std::string& what) {
  std::string words = what + ": " + DescribeCkr(rv);
  if (state.token && state.token->has_session() && !TokenAnswered(rv)) {
    // A card pulled during the call: say so, whatever the module made of it.
    if (!state.token->TokenPresent()) return TokenMissing(state, " (" + what + " answered " + DescribeCkr(rv) + ")");
    if (rv == CKR_SESSION_HANDLE_INVALID || rv == CKR_SESSION_CLOSED || rv == CKR_DEVICE_REMOVED) {
      words += ": the card was out of its reader since Select_slot; choose the token again with Select_slot";
    }
  }
  return Fail(state, static_cast<std::int32_t>(rv), words);
}

TokenSession* SessionOrFail(ComponentState& state, std::int32_t& code) {
  if (!state.token) {
    code = Fail(state, kNotInitialized, "Initialize has not loaded a PKCS#11 module");
    return nullptr;
  }
  if (!state.token->has_session()) {
    code = Fail(state, kNoTokenSelected, "Select_slot has not chosen a token");
    return nullptr;
  }
  // A module may answer from what it read earlier (a card's certificates)
  // while the card is out: every token call first asks whether it is there.
  if (!state.token->TokenPresent()) {
    code = TokenMissing(state, "");
    return nullptr;
  }
  return state.token.get();
}

void Wipe(std::string& secret) {
  if (!secret.empty()) OPENSSL_cleanse(secret.data(), secret.size());
  secret.clear();
}

}  // namespace p11crypto
