#include "p11crypto/members/member_support.h"

#include <openssl/crypto.h>

#include "p11crypto/pkcs11/pkcs11_errors.h"

namespace p11crypto {

std::int32_t FailCkr(ComponentState& state, CK_RV rv, const std::string& what) {
  return Fail(state, static_cast<std::int32_t>(rv), what + ": " + DescribeCkr(rv));
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
  return state.token.get();
}

void Wipe(std::string& secret) {
  if (!secret.empty()) OPENSSL_cleanse(secret.data(), secret.size());
  secret.clear();
}

}  // namespace p11crypto
