// genSecretKey, and the members that use the secret key: EncryptData,
// DecryptData, MAC (HMAC-SHA256), encFile and decFile. A failed call
// empties its result, so no older value passes for this call's.

#include "p11crypto/members/secret_key_members.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "p11crypto/crypto/secret_key_cipher.h"
#include "p11crypto/files/file_transform.h"
#include "p11crypto/members/member_support.h"
#include "p11crypto/text/base64.h"
#include "p11crypto/text/utf8_text.h"

namespace p11crypto {
namespace {

constexpr int kEncryptDataResult = 23, kDecryptDataResult = 24, kMacResult = 52, kEncFilePath = 82, kDecFilePath = 84;

bool HasKey(const ComponentState& state) { return state.secret_key.size() == kSecretKeySize; }

std::int32_t NoKey(ComponentState& state) {
  return Fail(state, kNoData, "no secret key: call genSecretKey or DecryptSecretKey first");
}

std::int32_t GenerateKey(ComponentState& state) {
  std::vector<std::uint8_t> key(kSecretKeySize);
  if (RAND_bytes(key.data(), static_cast<int>(key.size())) != 1) {
    return Fail(state, kCryptoFailed, "the random generator failed");
  }
  if (!state.secret_key.empty()) OPENSSL_cleanse(state.secret_key.data(), state.secret_key.size());
  state.secret_key = std::move(key);
  return Succeed(state);
}

std::int32_t EncryptData(ComponentState& state, const std::string& text) {
  state.SetResult(kEncryptDataResult, "");
  if (!HasKey(state)) return NoKey(state);
  SecretKeyEncryptor encryptor(state.secret_key);
  std::string message;
  if (!RunWhole(encryptor, text, message)) return Fail(state, encryptor.code, encryptor.message);
  state.SetResult(kEncryptDataResult, Base64Encode(message));
  return Succeed(state);
}

std::int32_t DecryptData(ComponentState& state, const std::string& base64) {
  state.SetResult(kDecryptDataResult, "");
  if (!HasKey(state)) return NoKey(state);
  const auto message = Base64DecodeToString(base64);
  if (!message) return Fail(state, kBadArgument, "Param1 is not Base64");
  SecretKeyDecryptor decryptor(state.secret_key);
  std::string text;
  if (!RunWhole(decryptor, *message, text)) return Fail(state, decryptor.code, decryptor.message);
  if (!IsUtf8(text)) return Fail(state, kConversionFailed, "the decrypted bytes are not UTF-8 text");
  state.SetResult(kDecryptDataResult, std::move(text));
  return Succeed(state);
}

std::int32_t Mac(ComponentState& state, const std::string& text) {
  state.SetResult(kMacResult, "");
  if (!HasKey(state)) return NoKey(state);
  unsigned char mac[EVP_MAX_MD_SIZE];
  size_t length = 0;
  if (!EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, state.secret_key.data(), state.secret_key.size(),
                 reinterpret_cast<const unsigned char*>(text.data()), text.size(), mac, sizeof(mac), &length)) {
    return Fail(state, kCryptoFailed, "HMAC-SHA256 failed");
  }
  state.SetResult(kMacResult, Base64Encode(mac, length));
  return Succeed(state);
}

template <typename Transform>
std::int32_t CryptFile(ComponentState& state, const Args& args, int result_dispid) {
  if (!HasKey(state)) return NoKey(state);
  Transform transform(state.secret_key);
  return TransformFile(state, args.Text(0), args.Text(1), result_dispid, transform);
}

}  // namespace

void AddSecretKeyMembers(MemberRegistry& m) {
  m[15] = [](ComponentState& s, const Args&) { return Code(GenerateKey(s)); };
  m[16] = [](ComponentState& s, const Args& a) { return Code(EncryptData(s, a.Text(0))); };
  m[kEncryptDataResult] = ResultReader(kEncryptDataResult);
  m[17] = [](ComponentState& s, const Args& a) { return Code(DecryptData(s, a.Text(0))); };
  m[kDecryptDataResult] = ResultReader(kDecryptDataResult);
  m[51] = [](ComponentState& s, const Args& a) { return Code(Mac(s, a.Text(0))); };
  m[kMacResult] = ResultReader(kMacResult);
  m[77] = [](ComponentState& s, const Args& a) { return Code(CryptFile<SecretKeyEncryptor>(s, a, kEncFilePath)); };
  m[kEncFilePath] = ResultReader(kEncFilePath);
  m[79] = [](ComponentState& s, const Args& a) { return Code(CryptFile<SecretKeyDecryptor>(s, a, kDecFilePath)); };
  m[kDecFilePath] = ResultReader(kDecFilePath);
}

}  // namespace p11crypto
