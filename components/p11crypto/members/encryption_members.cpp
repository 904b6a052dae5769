// Encryption with certificates and the token: PKCS7Encrypt, PKCS7Decrypt,
// EncryptSecretKey, DecryptSecretKey and their OAEP forms. The secret-key
// members are in secret_key_members.cpp. Encryption is done in software to
// a certificate's public key; decryption needs the token's private key and
// so a Login. A failed call empties its result.

#include <openssl/crypto.h>

#include "p11crypto/cms/envelope.h"
#include "p11crypto/crypto/public_key_crypto.h"
#include "p11crypto/crypto/secret_key_cipher.h"
#include "p11crypto/members/member_registry.h"
#include "p11crypto/members/member_support.h"
#include "p11crypto/members/secret_key_members.h"
#include "p11crypto/pkcs11/signing_identity.h"
#include "p11crypto/text/base64.h"
#include "p11crypto/text/certificate_text.h"
#include "p11crypto/text/utf8_text.h"

namespace p11crypto {
namespace {

constexpr int kEncryptSecretKeyResult = 25, kEnvelopeResult = 59, kOpenedResult = 61;

// One answer for every decryption failure that depends on the ciphertext,
// so that the error cannot serve as a padding oracle.
constexpr const char* kDoesNotDecrypt = "the data does not decrypt with the token's private key";

// The certificate in `text` (Base64 DER or PEM), or the token's chosen one when `text` is empty.
X509Ptr Recipient(ComponentState& state, const std::string& text, std::int32_t& code) {
  if (!text.empty()) {
    X509Ptr certificate = ParseCertificateText(text);
    if (!certificate) code = Fail(state, kBadArgument, "not a certificate (Base64 DER or PEM)");
    return certificate;
  }
  TokenCertificate chosen;
  if ((code = ChosenCertificate(state, chosen)) != kOk) return nullptr;
  X509Ptr certificate = ParseCertificate(chosen.der);
  if (!certificate) code = Fail(state, kCryptoFailed, "the token's certificate does not parse");
  return certificate;
}

// The chosen certificate's private key, decrypting on the token.
class TokenDecryptor {
 public:
  std::int32_t Open(ComponentState& state) {
    TokenCertificate chosen;
    if (const std::int32_t code = SigningKey(state, chosen, key_); code != kOk) return code;
    token_ = state.token.get();
    certificate_ = ParseCertificate(chosen.der);
    return certificate_ ? kOk : Fail(state, kCryptoFailed, "the token's certificate does not parse");
  }

  X509* certificate() const { return certificate_.get(); }
  size_t modulus_size() const { return static_cast<size_t>(EVP_PKEY_get_size(X509_get0_pubkey(certificate_.get()))); }

  CK_RV Decrypt(CK_MECHANISM& mechanism, std::string_view in, std::string& out) {
    Bytes plain;
    const CK_RV rv = token_->Decrypt(key_, mechanism, Bytes(in.begin(), in.end()), plain);
    out.assign(plain.begin(), plain.end());
    OPENSSL_cleanse(plain.data(), plain.size());
    return rv;
  }

 private:
  TokenSession* token_ = nullptr;
  CK_OBJECT_HANDLE key_ = CK_INVALID_HANDLE;
  X509Ptr certificate_;
};

// The token's answers that say nothing about the ciphertext; any other
// failure may (SoftHSM2 answers CKR_GENERAL_ERROR for bad PKCS#1 padding),
// so it gets the one answer.
bool DependsOnCiphertext(CK_RV rv) {
  switch (rv) {
    case CKR_USER_NOT_LOGGED_IN:
    case CKR_PIN_EXPIRED:
    case CKR_SESSION_CLOSED:
    case CKR_SESSION_HANDLE_INVALID:
    case CKR_DEVICE_REMOVED:
    case CKR_TOKEN_NOT_PRESENT:
    case CKR_KEY_FUNCTION_NOT_PERMITTED:
    case CKR_KEY_TYPE_INCONSISTENT:
    case CKR_MECHANISM_INVALID:
    case CKR_OPERATION_ACTIVE: return false;
    default: return true;
  }
}

std::int32_t EncryptSecretKey(ComponentState& state, const std::string& certificate_text, RsaPadding padding) {
  state.SetResult(kEncryptSecretKeyResult, "");
  if (state.secret_key.size() != kSecretKeySize) {
    return Fail(state, kNoData, "no secret key: call genSecretKey or DecryptSecretKey first");
  }
  std::int32_t code = kOk;
  const X509Ptr recipient = Recipient(state, certificate_text, code);
  if (!recipient) return code;
  std::string key(state.secret_key.begin(), state.secret_key.end());
  const auto wrapped = RsaEncrypt(recipient.get(), key, padding);
  Wipe(key);
  if (!wrapped) return Fail(state, kCryptoFailed, "the certificate's key is not an RSA key");
  state.SetResult(kEncryptSecretKeyResult, Base64Encode(*wrapped));
  return Succeed(state);
}

// OAEP with SHA-256 on the token when it can; many tokens (SoftHSM2 among
// them) do OAEP with SHA-1 only, so otherwise the token decrypts raw and
// the padding is removed here.
CK_RV DecryptOaep(TokenDecryptor& token, std::string_view wrapped, std::string& key) {
  CK_RSA_PKCS_OAEP_PARAMS params{CKM_SHA256, CKG_MGF1_SHA256, CKZ_DATA_SPECIFIED, nullptr, 0};
  CK_MECHANISM oaep{CKM_RSA_PKCS_OAEP, &params, sizeof(params)};
  const CK_RV rv = token.Decrypt(oaep, wrapped, key);
  if (rv != CKR_MECHANISM_INVALID && rv != CKR_MECHANISM_PARAM_INVALID && rv != CKR_ARGUMENTS_BAD) return rv;
  CK_MECHANISM raw{CKM_RSA_X_509, nullptr, 0};
  std::string block;
  const CK_RV raw_rv = token.Decrypt(raw, wrapped, block);
  if (raw_rv != CKR_OK) return raw_rv;
  auto decoded = OaepSha256Decode(block, token.modulus_size());
  Wipe(block);
  if (!decoded) return CKR_ENCRYPTED_DATA_INVALID;
  key = std::move(*decoded);
  return CKR_OK;
}

std::int32_t DecryptSecretKey(ComponentState& state, const std::string& base64, RsaPadding padding) {
  const auto wrapped = Base64DecodeToString(base64);
  if (!wrapped || wrapped->empty()) return Fail(state, kBadArgument, "Param1 is not Base64 of an encrypted key");
  TokenDecryptor token;
  if (const std::int32_t code = token.Open(state); code != kOk) return code;
  std::string key;
  CK_RV rv = CKR_OK;
  if (padding == RsaPadding::kOaepSha256) {
    rv = DecryptOaep(token, *wrapped, key);
  } else {
    CK_MECHANISM pkcs1{CKM_RSA_PKCS, nullptr, 0};
    rv = token.Decrypt(pkcs1, *wrapped, key);
  }
  if (rv == CKR_OK && key.size() != kSecretKeySize) rv = CKR_ENCRYPTED_DATA_INVALID;  // not one of our keys
  if (rv != CKR_OK) {
    Wipe(key);
    return DependsOnCiphertext(rv) ? Fail(state, kCryptoFailed, kDoesNotDecrypt) : FailCkr(state, rv, "C_Decrypt");
  }
  if (!state.secret_key.empty()) OPENSSL_cleanse(state.secret_key.data(), state.secret_key.size());
  state.secret_key.assign(key.begin(), key.end());
  Wipe(key);
  return Succeed(state);
}

std::int32_t SealEnvelopeMember(ComponentState& state, const std::string& content, const std::string& certificate) {
  state.SetResult(kEnvelopeResult, "");
  std::int32_t code = kOk;
  const X509Ptr recipient = Recipient(state, certificate, code);
  if (!recipient) return code;
  const auto envelope = SealEnvelope(recipient.get(), content);
  if (!envelope) return Fail(state, kCryptoFailed, "cannot encrypt to this certificate (RSA keys only)");
  state.SetResult(kEnvelopeResult, Base64Encode(*envelope));
  return Succeed(state);
}

std::int32_t OpenEnvelopeMember(ComponentState& state, const std::string& base64) {
  state.SetResult(kOpenedResult, "");
  const auto der = Base64DecodeToString(base64);
  if (!der || der->empty()) return Fail(state, kBadArgument, "Param1 is not Base64");
  TokenDecryptor token;
  if (const std::int32_t code = token.Open(state); code != kOk) return code;
  CK_RV token_rv = CKR_OK;
  const PrivateDecrypt decrypt = [&](std::string_view encrypted, std::string& plain) {
    CK_MECHANISM pkcs1{CKM_RSA_PKCS, nullptr, 0};
    token_rv = token.Decrypt(pkcs1, encrypted, plain);
    return token_rv == CKR_OK;
  };
  std::string content;
  OpenResult result = OpenEnvelope(*der, token.certificate(), decrypt, content);
  // CMS carries on with a random key when the recipient's key does not
  // decrypt (against padding oracles); the token's own answer decides.
  if (token_rv != CKR_OK) result = OpenResult::kFailed;
  switch (result) {
    case OpenResult::kNotEnvelope: return Fail(state, kBadArgument, "Param1 is not a CMS EnvelopedData");
    case OpenResult::kNotForRecipient:
      return Fail(state, kKeyNotFound, "the envelope is not addressed to the token's certificate");
    case OpenResult::kFailed:
      Wipe(content);
      if (token_rv != CKR_OK && !DependsOnCiphertext(token_rv)) return FailCkr(state, token_rv, "C_Decrypt");
      return Fail(state, kCryptoFailed, kDoesNotDecrypt);
    case OpenResult::kOpened: break;
  }
  if (!IsUtf8(content)) {
    Wipe(content);
    return Fail(state, kConversionFailed, "the envelope's content is not UTF-8 text");
  }
  state.SetResult(kOpenedResult, std::move(content));
  return Succeed(state);
}

}  // namespace

void AddEncryptionMembers(MemberRegistry& m) {
  m[58] = [](ComponentState& s, const Args& a) { return Code(SealEnvelopeMember(s, a.Text(0), a.Text(1))); };
  m[kEnvelopeResult] = ResultReader(kEnvelopeResult);
  m[60] = [](ComponentState& s, const Args& a) { return Code(OpenEnvelopeMember(s, a.Text(0))); };
  m[kOpenedResult] = ResultReader(kOpenedResult);
  m[18] = [](ComponentState& s, const Args& a) { return Code(EncryptSecretKey(s, a.Text(0), RsaPadding::kPkcs1)); };
  m[97] = [](ComponentState& s, const Args& a) {
    return Code(EncryptSecretKey(s, a.Text(0), RsaPadding::kOaepSha256));
  };
  m[kEncryptSecretKeyResult] = ResultReader(kEncryptSecretKeyResult);
  m[19] = [](ComponentState& s, const Args& a) { return Code(DecryptSecretKey(s, a.Text(0), RsaPadding::kPkcs1)); };
  m[98] = [](ComponentState& s, const Args& a) {
    return Code(DecryptSecretKey(s, a.Text(0), RsaPadding::kOaepSha256));
  };
  AddSecretKeyMembers(m);
}

}  // namespace p11crypto
