// Encodings and hashes: B64_encode, B64_decode, SHA1, UnicodeToBIG5,
// BIG5ToUnicode, UnicodeToUTF8, encodeFile, decodeFile. Every binary result
// (a digest, Big5 or UTF-8 bytes) is handed back as Base64. A failed call
// empties its result, so no older value passes for this call's.

#include <openssl/evp.h>

#include "p11crypto/files/file_transform.h"
#include "p11crypto/members/member_registry.h"
#include "p11crypto/members/member_support.h"
#include "p11crypto/text/base64.h"
#include "p11crypto/text/big5_text.h"
#include "p11crypto/text/utf8_text.h"

namespace p11crypto {
namespace {

constexpr int kBig5Result = 37, kUtf8Result = 39, kB64EncodeResult = 41, kB64DecodeResult = 43, kSha1Result = 49,
              kUnicodeResult = 63, kEncodePath = 89, kDecodePath = 90;

// SHA1's Param2: how Param1 is read.
enum Sha1Input { kSha1Text = 0, kSha1Base64 = 1 };

std::int32_t Base64DecodeMember(ComponentState& state, const std::string& text) {
  state.SetResult(kB64DecodeResult, "");
  auto bytes = Base64DecodeToString(text);
  if (!bytes) return Fail(state, kBadArgument, "Param1 is not Base64");
  if (!IsUtf8(*bytes)) return Fail(state, kConversionFailed, "the decoded bytes are not UTF-8 text");
  state.SetResult(kB64DecodeResult, std::move(*bytes));
  return Succeed(state);
}

std::int32_t Sha1(ComponentState& state, const std::string& data, std::int32_t input) {
  state.SetResult(kSha1Result, "");
  if (input != kSha1Text && input != kSha1Base64)
    return Fail(state, kBadArgument, "Param2 must be 0 (text) or 1 (Base64)");
  const auto bytes = input == kSha1Text ? std::optional<std::string>(data) : Base64DecodeToString(data);
  if (!bytes) return Fail(state, kBadArgument, "Param1 is not Base64");
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!EVP_Digest(bytes->data(), bytes->size(), digest, &length, EVP_sha1(), nullptr)) {
    return Fail(state, kCryptoFailed, "SHA-1 is not available");
  }
  state.SetResult(kSha1Result, Base64Encode(digest, length));
  return Succeed(state);
}

std::int32_t ToBig5(ComponentState& state, const std::string& text) {
  state.SetResult(kBig5Result, "");
  const auto big5 = Utf8ToBig5(text);
  if (!big5) return Fail(state, kConversionFailed, "the text holds a character Big5 (CP950) has no code for");
  state.SetResult(kBig5Result, Base64Encode(*big5));
  return Succeed(state);
}

std::int32_t FromBig5(ComponentState& state, const std::string& base64) {
  state.SetResult(kUnicodeResult, "");
  const auto big5 = Base64DecodeToString(base64);
  if (!big5) return Fail(state, kBadArgument, "Param1 is not Base64");
  auto text = Big5ToUtf8(*big5);
  if (!text) return Fail(state, kConversionFailed, "the bytes are not Big5 (CP950) text");
  state.SetResult(kUnicodeResult, std::move(*text));
  return Succeed(state);
}

class EncodeTransform : public FileTransform {
 public:
  bool Update(std::string_view in, std::string& out) override {
    encoder_.Update(in, out);
    return true;
  }
  bool Final(std::string& out) override {
    encoder_.Final(out);
    return true;
  }

 private:
  Base64Encoder encoder_;
};

class DecodeTransform : public FileTransform {
 public:
  bool Update(std::string_view in, std::string& out) override { return Check(decoder_.Update(in, out)); }
  bool Final(std::string& out) override { return Check(decoder_.Final(out)); }

 private:
  bool Check(bool ok) {
    if (!ok) code = kBadArgument, message = "the input file is not Base64";
    return ok;
  }
  Base64Decoder decoder_;
};

}  // namespace

void AddEncodingMembers(MemberRegistry& m) {
  m[40] = [](ComponentState& s, const Args& a) {
    s.SetResult(kB64EncodeResult, Base64Encode(a.Text(0)));
    return Code(Succeed(s));
  };
  m[kB64EncodeResult] = ResultReader(kB64EncodeResult);
  m[42] = [](ComponentState& s, const Args& a) { return Code(Base64DecodeMember(s, a.Text(0))); };
  m[kB64DecodeResult] = ResultReader(kB64DecodeResult);
  m[48] = [](ComponentState& s, const Args& a) { return Code(Sha1(s, a.Text(0), a.Int(1))); };
  m[kSha1Result] = ResultReader(kSha1Result);
  m[36] = [](ComponentState& s, const Args& a) { return Code(ToBig5(s, a.Text(0))); };
  m[kBig5Result] = ResultReader(kBig5Result);
  m[62] = [](ComponentState& s, const Args& a) { return Code(FromBig5(s, a.Text(0))); };
  m[kUnicodeResult] = ResultReader(kUnicodeResult);
  m[38] = [](ComponentState& s, const Args& a) {
    s.SetResult(kUtf8Result, Base64Encode(a.Text(0)));  // the text already is UTF-8 inside the component
    return Code(Succeed(s));
  };
  m[kUtf8Result] = ResultReader(kUtf8Result);
  m[74] = [](ComponentState& s, const Args& a) {
    EncodeTransform encode;
    return Code(TransformFile(s, a.Text(0), a.Text(1), kEncodePath, encode));
  };
  m[kEncodePath] = ResultReader(kEncodePath);
  m[75] = [](ComponentState& s, const Args& a) {
    DecodeTransform decode;
    return Code(TransformFile(s, a.Text(0), a.Text(1), kDecodePath, decode));
  };
  m[kDecodePath] = ResultReader(kDecodePath);
}

}  // namespace p11crypto
