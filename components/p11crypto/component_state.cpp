#include "p11crypto/component_state.h"

#include <openssl/crypto.h>

#include "p11crypto/host/host_dialogs.h"
#include "p11crypto/pkcs11/token_session.h"

namespace p11crypto {

ComponentState::ComponentState(const vorlink_host_services* host_services) : host(host_services) {}
// A page that goes away during its wait window never ends it; releasing
// the instance does. The secret key does not outlive the instance in freed
// memory.
ComponentState::~ComponentState() {
  if (waiting) EndWait(host);
  if (!secret_key.empty()) OPENSSL_cleanse(secret_key.data(), secret_key.size());
}

std::int32_t Fail(ComponentState& state, std::int32_t code, std::string message) {
  state.last_error = code;
  state.error_message = std::move(message);
  return code;
}

std::int32_t Succeed(ComponentState& state) {
  state.last_error = kOk;
  state.error_message.clear();
  return kOk;
}

}  // namespace p11crypto
