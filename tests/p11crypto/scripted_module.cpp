// A PKCS#11 module with one slot whose token does what a test scripts
// (scripted_module.h): a reader with a PIN pad, a module that keeps a
// login the card has lost, a wrong PIN that locks, a reader that comes
// while the slots are listed. Only the functions the component's token
// and login members call are there.

#include "scripted_module.h"

#include <algorithm>
#include <cstring>

namespace {

ScriptedToken token;

void Padded(unsigned char* field, std::size_t size, const char* text) {
  std::memset(field, ' ', size);
  std::memcpy(field, text, std::min(size, std::strlen(text)));
}

CK_RV Initialize(void*) { return CKR_OK; }
CK_RV Finalize(void*) { return CKR_OK; }

CK_RV GetSlotList(CK_BBOOL, CK_SLOT_ID* list, CK_ULONG* count) {
  const CK_ULONG slots = token.present ? 1 : 0;
  if (!list) {
    *count = slots;
    return CKR_OK;
  }
  // Another reader came between the count and this list.
  if (token.appear_while_listing > 0) {
    --token.appear_while_listing;
    *count = slots + 1;
    return CKR_BUFFER_TOO_SMALL;
  }
  if (*count < slots) return CKR_BUFFER_TOO_SMALL;
  *count = slots;
  if (slots) list[0] = 1;
  return CKR_OK;
}

CK_RV GetSlotInfo(CK_SLOT_ID, CK_SLOT_INFO* info) {
  *info = {};
  Padded(info->slotDescription, sizeof info->slotDescription, "Scripted Reader");
  info->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT | (token.present ? CKF_TOKEN_PRESENT : 0);
  return CKR_OK;
}

CK_RV GetTokenInfo(CK_SLOT_ID, CK_TOKEN_INFO* info) {
  if (!token.present) return CKR_TOKEN_NOT_PRESENT;
  *info = {};
  Padded(info->label, sizeof info->label, "Scripted Card");
  Padded(info->serialNumber, sizeof info->serialNumber, "5C41P7ED");
  info->flags = CKF_TOKEN_INITIALIZED | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | token.flags;
  return CKR_OK;
}

CK_RV OpenSession(CK_SLOT_ID, CK_FLAGS, void*, CK_NOTIFY, CK_SESSION_HANDLE* session) {
  if (!token.present) return CKR_TOKEN_NOT_PRESENT;
  *session = 7;
  return CKR_OK;
}

CK_RV CloseSession(CK_SESSION_HANDLE) { return CKR_OK; }

CK_RV Login(CK_SESSION_HANDLE, CK_USER_TYPE, CK_UTF8CHAR* pin, CK_ULONG length) {
  token.logins.push_back(pin ? std::string(reinterpret_cast<char*>(pin), length) : ScriptedToken::kFromPinPad);
  if (token.module_logged_in) return CKR_USER_ALREADY_LOGGED_IN;
  const bool right = pin ? std::string(reinterpret_cast<char*>(pin), length) == token.pin : token.pin_pad_right;
  if (!right) {
    if (token.locks_on_wrong_pin) token.flags |= CKF_USER_PIN_LOCKED;
    return CKR_PIN_INCORRECT;
  }
  token.module_logged_in = token.card_verified = true;
  return CKR_OK;
}

CK_RV Logout(CK_SESSION_HANDLE) {
  token.logouts++;
  token.module_logged_in = token.card_verified = false;
  return CKR_OK;
}

CK_FUNCTION_LIST functions = [] {
  CK_FUNCTION_LIST f{};
  f.version = {2, 40};
  f.C_Initialize = Initialize;
  f.C_Finalize = Finalize;
  f.C_GetSlotList = GetSlotList;
  f.C_GetSlotInfo = GetSlotInfo;
  f.C_GetTokenInfo = GetTokenInfo;
  f.C_OpenSession = OpenSession;
  f.C_CloseSession = CloseSession;
  f.C_Login = Login;
  f.C_Logout = Logout;
  return f;
}();

}  // namespace

extern "C" {

__attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST** list) {
  *list = &functions;
  return CKR_OK;
}

__attribute__((visibility("default"))) ScriptedToken* scripted_token() { return &token; }
}
