#include "p11crypto/pkcs11/token_session.h"

namespace p11crypto {
namespace {

// PKCS#11 pads its fixed-width texts with spaces.
std::string Padded(const unsigned char* text, size_t size) {
  std::string value(reinterpret_cast<const char*>(text), size);
  value.erase(value.find_last_not_of(" \0", std::string::npos, 2) + 1);
  return value;
}

CK_UTF8CHAR_PTR PinBytes(const std::string& pin) {
  return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data()));
}

}  // namespace

TokenSession::TokenSession(std::shared_ptr<Pkcs11Module> module) : module_(std::move(module)) {}

TokenSession::~TokenSession() { CloseSession(); }

void TokenSession::Forget() {
  signing_entry_.reset();
  mechanisms_.clear();
}

void TokenSession::CloseSession() {
  Forget();
  if (session_ != CK_INVALID_HANDLE) (*module_)->C_CloseSession(session_);
  session_ = CK_INVALID_HANDLE;
}

CK_RV TokenSession::Enumerate() {
  tokens_.clear();
  std::vector<CK_SLOT_ID> slots;
  CK_RV rv = CKR_BUFFER_TOO_SMALL;
  // A reader or card that comes between the count and the list makes the
  // list longer than counted: count again.
  for (int attempt = 0; attempt < 3 && rv == CKR_BUFFER_TOO_SMALL; ++attempt) {
    CK_ULONG count = 0;
    rv = (*module_)->C_GetSlotList(CK_TRUE, nullptr, &count);
    if (rv != CKR_OK) return rv;
    if (count == 0) return CKR_OK;  // a list call with no room would be a count call
    slots.resize(count);
    rv = (*module_)->C_GetSlotList(CK_TRUE, slots.data(), &count);
    slots.resize(count);
  }
  if (rv != CKR_OK) return rv;
  for (CK_SLOT_ID slot : slots) {
    CK_TOKEN_INFO info{};
    if ((*module_)->C_GetTokenInfo(slot, &info) != CKR_OK || !(info.flags & CKF_TOKEN_INITIALIZED)) continue;
    tokens_.push_back(
        {slot, Padded(info.label, sizeof(info.label)), Padded(info.serialNumber, sizeof(info.serialNumber)),
         Padded(info.manufacturerID, sizeof(info.manufacturerID)), Padded(info.model, sizeof(info.model)), info.flags});
  }
  return CKR_OK;
}

CK_RV TokenSession::Select(const TokenInfo& token) {
  CloseSession();
  // Asking for the slot first makes a card module look at its reader again,
  // so a card pulled and put back since the module last looked is taken up
  // afresh instead of through its old, dead connection.
  CK_SLOT_INFO slot{};
  CK_RV rv = (*module_)->C_GetSlotInfo(token.slot, &slot);
  if (rv != CKR_OK) return rv;
  if (!(slot.flags & CKF_TOKEN_PRESENT)) return CKR_TOKEN_NOT_PRESENT;
  rv = (*module_)->C_OpenSession(token.slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session_);
  if (rv == CKR_TOKEN_WRITE_PROTECTED) {
    rv = (*module_)->C_OpenSession(token.slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session_);
  }
  if (rv != CKR_OK) {
    session_ = CK_INVALID_HANDLE;
    return rv;
  }
  selected_ = token;
  return CKR_OK;
}

CK_RV TokenSession::LoginOnce(const std::string& pin) {
  const bool pin_pad = pin.empty() && (selected_.flags & CKF_PROTECTED_AUTHENTICATION_PATH);
  return (*module_)->C_Login(session_, CKU_USER, pin_pad ? nullptr : PinBytes(pin), pin_pad ? 0 : pin.size());
}

bool TokenSession::PinLockedNow() {
  CK_TOKEN_INFO info{};
  return (*module_)->C_GetTokenInfo(selected_.slot, &info) == CKR_OK && (info.flags & CKF_USER_PIN_LOCKED);
}

CK_RV TokenSession::Login(const std::string& pin) {
  if (!has_session()) return CKR_SESSION_HANDLE_INVALID;
  Forget();
  CK_RV rv = LoginOnce(pin);
  if (rv == CKR_USER_ALREADY_LOGGED_IN) {
    (*module_)->C_Logout(session_);
    rv = LoginOnce(pin);
  }
  if (rv == CKR_PIN_INCORRECT && PinLockedNow()) return CKR_PIN_LOCKED;
  return rv == CKR_USER_ALREADY_LOGGED_IN ? CKR_OK : rv;
}

CK_RV TokenSession::Logout() {
  if (!has_session()) return CKR_SESSION_HANDLE_INVALID;
  Forget();
  return (*module_)->C_Logout(session_);
}

CK_RV TokenSession::ChangePin(const std::string& old_pin, const std::string& new_pin) {
  if (!has_session()) return CKR_SESSION_HANDLE_INVALID;
  return (*module_)->C_SetPIN(session_, PinBytes(old_pin), old_pin.size(), PinBytes(new_pin), new_pin.size());
}

CK_RV TokenSession::InitUserPin(const std::string& so_pin, const std::string& new_pin) {
  if (!has_session()) return CKR_SESSION_HANDLE_INVALID;
  Forget();
  (*module_)->C_Logout(session_);  // the security officer cannot log in over a user login
  CK_RV rv = (*module_)->C_Login(session_, CKU_SO, PinBytes(so_pin), so_pin.size());
  if (rv != CKR_OK) return rv;
  rv = (*module_)->C_InitPIN(session_, PinBytes(new_pin), new_pin.size());
  (*module_)->C_Logout(session_);
  return rv;
}

bool TokenSession::TokenPresent() {
  CK_SLOT_INFO info{};
  return (*module_)->C_GetSlotInfo(selected_.slot, &info) == CKR_OK && (info.flags & CKF_TOKEN_PRESENT);
}

CK_RV TokenSession::FindObjects(CK_ATTRIBUTE* filter, CK_ULONG count, std::vector<CK_OBJECT_HANDLE>& found) {
  if (!has_session()) return CKR_SESSION_HANDLE_INVALID;
  CK_RV rv = (*module_)->C_FindObjectsInit(session_, filter, count);
  if (rv != CKR_OK) return rv;
  CK_OBJECT_HANDLE batch[32];
  CK_ULONG got = 0;
  while ((rv = (*module_)->C_FindObjects(session_, batch, 32, &got)) == CKR_OK && got > 0) {
    found.insert(found.end(), batch, batch + got);
  }
  (*module_)->C_FindObjectsFinal(session_);
  return rv;
}

CK_RV TokenSession::Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, Bytes& value) {
  CK_ATTRIBUTE attribute{type, nullptr, 0};
  CK_RV rv = (*module_)->C_GetAttributeValue(session_, object, &attribute, 1);
  if (rv != CKR_OK) return rv;
  if (attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) return CKR_ATTRIBUTE_SENSITIVE;
  value.resize(attribute.ulValueLen);
  attribute.pValue = value.data();
  return (*module_)->C_GetAttributeValue(session_, object, &attribute, 1);
}

CK_RV TokenSession::Certificates(std::vector<TokenCertificate>& out) {
  CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
  CK_CERTIFICATE_TYPE type = CKC_X_509;
  CK_ATTRIBUTE filter[] = {{CKA_CLASS, &cls, sizeof(cls)}, {CKA_CERTIFICATE_TYPE, &type, sizeof(type)}};
  std::vector<CK_OBJECT_HANDLE> found;
  CK_RV rv = FindObjects(filter, 2, found);
  if (rv != CKR_OK) return rv;
  for (CK_OBJECT_HANDLE object : found) {
    TokenCertificate certificate;
    Bytes label;
    if (Attribute(object, CKA_VALUE, certificate.der) != CKR_OK) continue;
    Attribute(object, CKA_ID, certificate.id);
    Attribute(object, CKA_LABEL, label);
    certificate.label.assign(label.begin(), label.end());
    out.push_back(std::move(certificate));
  }
  return CKR_OK;
}

CK_RV TokenSession::FindPrivateKey(const Bytes& id, CK_OBJECT_HANDLE& key) {
  CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
  CK_ATTRIBUTE filter[] = {{CKA_CLASS, &cls, sizeof(cls)},
                           {CKA_ID, const_cast<std::uint8_t*>(id.data()), static_cast<CK_ULONG>(id.size())}};
  std::vector<CK_OBJECT_HANDLE> found;
  const CK_RV rv = FindObjects(filter, 2, found);
  if (rv != CKR_OK) return rv;
  if (found.empty()) return CKR_KEY_HANDLE_INVALID;
  key = found.front();
  return CKR_OK;
}

bool TokenSession::WantsPinEachUse(CK_OBJECT_HANDLE key) {
  Bytes value;
  return Attribute(key, CKA_ALWAYS_AUTHENTICATE, value) == CKR_OK && value.size() == 1 && value[0] == CK_TRUE;
}

bool TokenSession::HasMechanism(CK_MECHANISM_TYPE mechanism) {
  const auto known = mechanisms_.find(mechanism);
  if (known != mechanisms_.end()) return known->second;
  CK_MECHANISM_INFO info{};
  return mechanisms_[mechanism] = (*module_)->C_GetMechanismInfo(selected_.slot, mechanism, &info) == CKR_OK;
}

CK_RV TokenSession::Sign(CK_OBJECT_HANDLE key, CK_MECHANISM_TYPE type, const Bytes& data, Bytes& signature) {
  CK_MECHANISM mechanism{type, nullptr, 0};
  CK_RV rv = (*module_)->C_SignInit(session_, &mechanism, key);
  if (rv != CKR_OK) return rv;
  CK_ULONG length = 0;
  auto* in = const_cast<std::uint8_t*>(data.data());
  rv = (*module_)->C_Sign(session_, in, data.size(), nullptr, &length);
  if (rv != CKR_OK) return rv;
  signature.resize(length);
  rv = (*module_)->C_Sign(session_, in, data.size(), signature.data(), &length);
  signature.resize(length);
  return rv;
}

CK_RV TokenSession::Decrypt(CK_OBJECT_HANDLE key, CK_MECHANISM& mechanism, const Bytes& data, Bytes& plain) {
  CK_RV rv = (*module_)->C_DecryptInit(session_, &mechanism, key);
  if (rv != CKR_OK) return rv;
  CK_ULONG length = 0;
  auto* in = const_cast<std::uint8_t*>(data.data());
  rv = (*module_)->C_Decrypt(session_, in, data.size(), nullptr, &length);
  if (rv != CKR_OK) return rv;
  plain.resize(length);
  rv = (*module_)->C_Decrypt(session_, in, data.size(), plain.data(), &length);
  plain.resize(length);
  return rv;
}

}  // namespace p11crypto
