// Modules, tokens, sessions and PINs: Initialize, Enumerate_slots,
// Select_slot, Login, Logout, ChangePIN, initSlot, Finalize.

#include <cstdlib>

#include "p11crypto/members/member_registry.h"
#include "p11crypto/members/member_support.h"
#include "p11crypto/pkcs11/module_choice.h"
#include "p11crypto/text/json_text.h"

namespace p11crypto {
namespace {

constexpr int kEnumerateSlotsResult = 3;

// The one answer for every refused module name, whatever the name points
// at: no word of it depends on the file system.
constexpr const char* kModuleNotAllowedMessage =
    "the module is neither registered with p11-kit nor allowed by the administrator";

// What the token says about wrong PINs, only when it says something: a
// page reads it after a wrong PIN (160) to warn before the card locks.
std::string PinState(CK_FLAGS flags) {
  if (flags & CKF_USER_PIN_LOCKED) return ",\"pinState\":\"locked\"";
  if (flags & CKF_USER_PIN_FINAL_TRY) return ",\"pinState\":\"finalTry\"";
  if (flags & CKF_USER_PIN_COUNT_LOW) return ",\"pinState\":\"countLow\"";
  return "";
}

std::string TokensAsJson(const std::vector<TokenInfo>& tokens) {
  std::string json = "[";
  for (size_t i = 0; i < tokens.size(); ++i) {
    const TokenInfo& t = tokens[i];
    json += (i ? "," : "") + std::string("{\"index\":") + std::to_string(i) + ",\"label\":" + JsonString(t.label) +
            ",\"serial\":" + JsonString(t.serial) + ",\"manufacturer\":" + JsonString(t.manufacturer) +
            ",\"model\":" + JsonString(t.model) +
            ",\"loginRequired\":" + ((t.flags & CKF_LOGIN_REQUIRED) ? "true" : "false") +
            ",\"pinPad\":" + ((t.flags & CKF_PROTECTED_AUTHENTICATION_PATH) ? "true" : "false") + PinState(t.flags) +
            "}";
  }
  return json + "]";
}

bool IsIndex(const std::vector<TokenInfo>& tokens, const std::string& wanted) {
  char* end = nullptr;
  const long index = std::strtol(wanted.c_str(), &end, 10);
  return !wanted.empty() && *end == '\0' && index >= 0 && static_cast<size_t>(index) < tokens.size();
}

// A token by its index in the last enumeration, else by label, else by serial.
const TokenInfo* FindToken(const std::vector<TokenInfo>& tokens, const std::string& wanted) {
  if (IsIndex(tokens, wanted)) return &tokens[std::strtol(wanted.c_str(), nullptr, 10)];
  for (const TokenInfo& t : tokens) {
    if (t.label == wanted) return &t;
  }
  for (const TokenInfo& t : tokens) {
    if (t.serial == wanted) return &t;
  }
  return nullptr;
}

std::int32_t Initialize(ComponentState& state, const std::string& module_name) {
  state.token.reset();
  const auto library = ChooseModuleLibrary(module_name, SystemModuleSources());
  if (!library) return Fail(state, kModuleNotAllowed, kModuleNotAllowedMessage);
  CK_RV rv = CKR_OK;
  std::string message;
  auto module = Pkcs11Module::Acquire(*library, rv, message);
  if (!module) return rv == CKR_OK ? Fail(state, kModuleLoadFailed, message) : FailCkr(state, rv, message);
  state.token = std::make_unique<TokenSession>(std::move(module));
  return Succeed(state);
}

std::int32_t EnumerateSlots(ComponentState& state) {
  if (!state.token) return Fail(state, kNotInitialized, "Initialize has not loaded a PKCS#11 module");
  const CK_RV rv = state.token->Enumerate();
  if (rv != CKR_OK) return FailCkr(state, rv, "C_GetSlotList");
  state.SetResult(kEnumerateSlotsResult, TokensAsJson(state.token->tokens()));
  return Succeed(state);
}

std::int32_t SelectSlot(ComponentState& state, const std::string& wanted) {
  if (!state.token) return Fail(state, kNotInitialized, "Initialize has not loaded a PKCS#11 module");
  if (state.token->tokens().empty()) state.token->Enumerate();
  const bool by_index = IsIndex(state.token->tokens(), wanted);
  const TokenInfo* token = FindToken(state.token->tokens(), wanted);
  CK_RV rv = token ? state.token->Select(*token) : CKR_TOKEN_NOT_PRESENT;
  // A label or a serial names a token wherever it is now: a card put in
  // after the last list, or back into another reader, is looked for in a
  // new one. An index means the last list the page saw, so it is not.
  if (rv != CKR_OK && !by_index && state.token->Enumerate() == CKR_OK) {
    token = FindToken(state.token->tokens(), wanted);
    if (token) rv = state.token->Select(*token);
  }
  if (!token) return Fail(state, kTokenNotFound, "no token matches \"" + wanted + "\"");
  return rv == CKR_OK ? Succeed(state) : FailCkr(state, rv, "C_OpenSession");
}

template <typename Action>
std::int32_t WithSession(ComponentState& state, const char* what, Action action) {
  std::int32_t code = kOk;
  TokenSession* token = SessionOrFail(state, code);
  if (!token) return code;
  const CK_RV rv = action(*token);
  return rv == CKR_OK ? Succeed(state) : FailCkr(state, rv, what);
}

}  // namespace

void AddSlotMembers(MemberRegistry& m) {
  m[1] = [](ComponentState& s, const Args& a) { return Code(Initialize(s, a.Text(0))); };
  m[53] = [](ComponentState& s, const Args&) { return Code(EnumerateSlots(s)); };
  m[kEnumerateSlotsResult] = ResultReader(kEnumerateSlotsResult);
  m[4] = [](ComponentState& s, const Args& a) { return Code(SelectSlot(s, a.Text(0))); };
  m[5] = [](ComponentState& s, const Args& a) {
    return Code(WithSession(s, "C_Login", [&](TokenSession& t) { return t.Login(a.Text(0)); }));
  };
  m[6] = [](ComponentState& s, const Args&) {
    return Code(WithSession(s, "C_Logout", [](TokenSession& t) { return t.Logout(); }));
  };
  m[14] = [](ComponentState& s, const Args& a) {
    return Code(WithSession(s, "C_SetPIN", [&](TokenSession& t) { return t.ChangePin(a.Text(0), a.Text(1)); }));
  };
  m[91] = [](ComponentState& s, const Args& a) {
    return Code(WithSession(s, "C_InitPIN", [&](TokenSession& t) { return t.InitUserPin(a.Text(0), a.Text(1)); }));
  };
  m[10] = [](ComponentState& s, const Args&) {
    s.token.reset();
    return Code(Succeed(s));
  };
}

}  // namespace p11crypto
