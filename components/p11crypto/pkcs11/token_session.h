#pragma once
// The token side of a component instance: the tokens a module offers, the
// chosen one, its session and login, and the object and key operations the
// members need. Every call returns the module's CKR_ value.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "p11crypto/pkcs11/pkcs11.h"

struct x509_st;
#include "p11crypto/pkcs11/pkcs11_module.h"

namespace p11crypto {

using Bytes = std::vector<std::uint8_t>;

struct TokenInfo {
  CK_SLOT_ID slot = 0;
  std::string label, serial, manufacturer, model;
  CK_FLAGS flags = 0;
};

struct TokenCertificate {
  Bytes der;
  Bytes id;  // CKA_ID, shared with the matching private key
  std::string label;
};

class TokenSession {
 public:
  explicit TokenSession(std::shared_ptr<Pkcs11Module> module);
  ~TokenSession();

  // The initialised tokens present now (slots without a token, or with an
  // uninitialised one, are left out), in slot order.
  CK_RV Enumerate();
  const std::vector<TokenInfo>& tokens() const { return tokens_; }

  // Opens a session on one of tokens(); closes any earlier one.
  CK_RV Select(const TokenInfo& token);
  bool has_session() const { return session_ != CK_INVALID_HANDLE; }
  const TokenInfo& selected() const { return selected_; }

  // An empty PIN on a token with a protected authentication path (PIN pad)
  // lets the reader ask for it. The PIN is always checked: a module that
  // says the user is already logged in is logged out and in again, since a
  // card pulled and put back between two calls keeps the module's login
  // while the card has lost it. A wrong PIN that used up the last try
  // answers CKR_PIN_LOCKED.
  CK_RV Login(const std::string& pin);
  CK_RV Logout();
  CK_RV ChangePin(const std::string& old_pin, const std::string& new_pin);
  // Sets a new user PIN with the security officer's PIN (unblocks a locked PIN).
  CK_RV InitUserPin(const std::string& so_pin, const std::string& new_pin);

  // Whether the chosen token is still in its slot (a card in its reader).
  bool TokenPresent();

  CK_RV Certificates(std::vector<TokenCertificate>& out);
  CK_RV FindPrivateKey(const Bytes& id, CK_OBJECT_HANDLE& key);
  // A key marked CKA_ALWAYS_AUTHENTICATE: the PIN again before each use.
  bool WantsPinEachUse(CK_OBJECT_HANDLE key);
  bool HasMechanism(CK_MECHANISM_TYPE mechanism);
  CK_RV Sign(CK_OBJECT_HANDLE key, CK_MECHANISM_TYPE mechanism, const Bytes& data, Bytes& signature);
  CK_RV Decrypt(CK_OBJECT_HANDLE key, CK_MECHANISM& mechanism, const Bytes& data, Bytes& plain);

  // The signing certificate and its key as found last. Object handles
  // belong to the session and what a session sees depends on its login, so
  // the entry is dropped whenever either changes.
  struct SigningEntry {
    TokenCertificate certificate;
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    // The certificate parsed, once: OpenSSL 3 decodes its public key
    // through its provider machinery, a sixth of a software token's
    // signature when done for each one.
    std::shared_ptr<x509_st> parsed;
  };
  std::optional<SigningEntry>& signing_entry() { return signing_entry_; }

 private:
  void CloseSession();
  void Forget();
  CK_RV LoginOnce(const std::string& pin);
  bool PinLockedNow();
  CK_RV FindObjects(CK_ATTRIBUTE* filter, CK_ULONG count, std::vector<CK_OBJECT_HANDLE>& found);
  CK_RV Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, Bytes& value);

  std::shared_ptr<Pkcs11Module> module_;
  std::vector<TokenInfo> tokens_;
  TokenInfo selected_;
  CK_SESSION_HANDLE session_ = CK_INVALID_HANDLE;
  std::optional<SigningEntry> signing_entry_;
  std::map<CK_MECHANISM_TYPE, bool> mechanisms_;  // of the selected token
};

}  // namespace p11crypto
