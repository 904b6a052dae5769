// CMS signatures with the token's key: PKCS7Sign and PKCS7Verify on text,
// signFile / verifyFile / signBigFile / verifyBigFile on files of any size,
// and their property reads.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>

#include "p11crypto/cms/cms_token_signer.h"
#include "p11crypto/cms/cms_verifier.h"
#include "p11crypto/crypto/openssl_ptr.h"
#include "p11crypto/files/anchored_file.h"
#include "p11crypto/files/file_digest.h"
#include "p11crypto/files/file_target.h"
#include "p11crypto/host/host_wait_window.h"
#include "p11crypto/members/member_registry.h"
#include "p11crypto/members/member_support.h"
#include "p11crypto/pkcs11/signing_identity.h"
#include "p11crypto/pkcs11/token_signature.h"
#include "p11crypto/text/base64.h"
#include "p11crypto/text/certificate_text.h"

namespace p11crypto {
namespace {
namespace fs = std::filesystem;

enum Result {
  kSignature = 8,
  kSignCert = 20,
  kVerifyCert = 21,
  kVerifyContent = 22,
  kVerifyContentBase64 = 57,
  kSignFilePath = 81,
  kVerifyFilePath = 83,
};

// Param3 of the signing members: 0 (the default) or 256 SHA-256, 1 or 160
// SHA-1, 384 SHA-384, 512 SHA-512.
// The largest signature file verifyFile reads.
constexpr std::size_t kMaxSignatureBytes = 16 << 20;

const EVP_MD* HashFor(std::int32_t choice) {
  switch (choice) {
    case 0:
    case 256: return EVP_sha256();
    case 1:
    case 160: return EVP_sha1();
    case 384: return EVP_sha384();
    case 512: return EVP_sha512();
    default: return nullptr;
  }
}

Bytes AsBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Signs a content whose digest is known; the DER goes to `der`.
std::int32_t SignDigest(ComponentState& state, const EVP_MD* md, Bytes digest, const Bytes* content, Bytes& der) {
  TokenCertificate certificate;
  CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
  if (const std::int32_t code = SigningKey(state, certificate, key); code != kOk) return code;
  std::shared_ptr<X509>& parsed = state.token->signing_entry()->parsed;  // SigningKey keeps the entry
  if (!parsed) parsed = std::shared_ptr<X509>(ParseCertificate(certificate.der).release(), X509_free);
  if (!parsed) return Fail(state, kCryptoFailed, "the token's certificate is not a valid X.509 certificate");
  const CmsSignOutcome outcome = SignCms(*state.token, {parsed.get(), key, md, std::move(digest), content});
  if (outcome.token_error != CKR_OK) return FailCkr(state, outcome.token_error, "C_Sign");
  if (!outcome.error.empty()) return Fail(state, kCryptoFailed, outcome.error);
  state.SetResult(kSignCert, Base64Encode(certificate.der));
  der = outcome.der;
  return kOk;
}

std::int32_t Pkcs7Sign(ComponentState& state, const std::string& text, std::int32_t detached, std::int32_t hash) {
  const EVP_MD* md = HashFor(hash);
  if (!md) return Fail(state, kBadArgument, "Param3 names no supported hash (0 SHA-256, 1 SHA-1, 384, 512)");
  const Bytes content = AsBytes(text);
  Bytes der;
  if (const std::int32_t code = SignDigest(state, md, Digest(md, content), detached ? nullptr : &content, der))
    return code;
  state.SetResult(kSignature, Base64Encode(der));
  return Succeed(state);
}

void KeepVerifyResults(ComponentState& state, const CmsVerifyOutcome& outcome, const Bytes& content) {
  state.SetResult(kVerifyCert, outcome.signer_certificate.empty() ? "" : Base64Encode(outcome.signer_certificate));
  state.SetResult(kVerifyContent, std::string(content.begin(), content.end()));
  state.SetResult(kVerifyContentBase64, Base64Encode(content));
}

std::int32_t VerifyOutcome(ComponentState& state, const CmsVerifyOutcome& outcome) {
  if (outcome.bad_input) return Fail(state, kBadArgument, outcome.error);
  if (!outcome.valid) return Fail(state, kVerifyFailed, outcome.error);
  return Succeed(state);
}

// Param1 the signature (Base64 DER); Param2 the signed text of a detached
// signature; Param3 trusted authorities (empty: the signature alone).
std::int32_t Pkcs7Verify(ComponentState& state, const std::string& signature, const std::string& text,
                         const std::string& trusted) {
  for (int read : {kVerifyCert, kVerifyContent, kVerifyContentBase64}) state.SetResult(read, "");
  const auto der = Base64Decode(signature);
  if (!der || der->empty()) return Fail(state, kBadArgument, "Param1 is not Base64 text");
  BioPtr detached(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
  const CmsVerifyOutcome outcome = VerifyCms({*der, text.empty() ? nullptr : detached.get(), trusted, true});
  const Bytes content = outcome.content.empty() && outcome.valid ? AsBytes(text) : outcome.content;
  if (outcome.valid) KeepVerifyResults(state, outcome, content);
  return VerifyOutcome(state, outcome);
}

std::string ProgressText(const char* what, const fs::path& file, std::uint64_t done, std::uint64_t total) {
  const int percent = total ? static_cast<int>(done * 100 / total) : 100;
  return std::string(what) + " " + file.filename().string() + " … " + std::to_string(percent) + "%";
}

// Both files of a file signature, anchored in their folders before any
// work starts; kFileNotAllowed for either outside the allowed folders.
std::int32_t SignatureFiles(ComponentState& state, const std::string& file, const std::string& signature,
                            std::optional<AllowedPath>& data, std::optional<AllowedPath>& p7s) {
  std::int32_t code = kOk;
  if (file.empty()) return Fail(state, kFileNotAllowed, "the file is outside the folders this page may use");
  if (!(data = FileTarget(state, file, code))) return code;
  if (!(p7s = FileTarget(state, signature.empty() ? file + ".p7s" : signature, code))) return code;
  return kOk;
}

int WriteBytes(int fd, const Bytes& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// Param1 the file; Param2 where the signature goes (empty: beside the file,
// with ".p7s" added). Always a detached signature, streamed.
std::int32_t SignFile(ComponentState& state, const std::string& input, const std::string& output, bool show_progress) {
  std::optional<AllowedPath> in, out;
  std::int32_t code = SignatureFiles(state, input, output, in, out);
  if (code != kOk) return code;
  if (!SessionOrFail(state, code)) return code;
  const EVP_MD* md = EVP_sha256();
  Bytes digest;
  {
    UniqueFd fd;
    if (const int error = OpenForReading(*in, fd)) return FailFile(state, error, "cannot read", in->path);
    HostWaitWindow wait(show_progress ? state.host : nullptr, "Signing " + in->name);
    Progress progress = [&](std::uint64_t done, std::uint64_t total) {
      wait.SetMessage(ProgressText("Signing", in->path, done, total));
    };
    if (!DigestFile(fd.get(), md, digest, show_progress ? progress : Progress{})) {
      return Fail(state, kFileError, "cannot read " + in->path.string());
    }
  }
  Bytes der;
  if ((code = SignDigest(state, md, digest, nullptr, der)) != kOk) return code;
  if (const int error = WriteThroughTemporary(*out, [&der](int fd) { return WriteBytes(fd, der); })) {
    return FailFile(state, error, "cannot write", out->path);
  }
  state.SetResult(kSignFilePath, out->path.string());
  return Succeed(state);
}

// Param1 the file; Param2 its detached signature file.
std::int32_t VerifyFile(ComponentState& state, const std::string& file, const std::string& signature_file,
                        bool show_progress) {
  std::optional<AllowedPath> data, signature;
  if (const std::int32_t code = SignatureFiles(state, file, signature_file, data, signature); code != kOk) return code;
  std::string der;
  std::uint64_t size = 0;
  if (const int error = ReadWholeFile(*signature, kMaxSignatureBytes, der, size)) {
    return FailFile(state, error, "cannot read", signature->path);
  }
  UniqueFd fd;
  if (const int error = OpenForReading(*data, fd)) return FailFile(state, error, "cannot read", data->path);
  BioPtr content(BIO_new_fd(fd.get(), BIO_NOCLOSE));
  if (!content) return Fail(state, kFileError, "cannot read " + data->path.string());
  HostWaitWindow wait(show_progress ? state.host : nullptr, "Verifying " + data->name);
  const CmsVerifyOutcome outcome = VerifyCms({AsBytes(der), content.get(), {}, false});
  if (outcome.valid) {
    state.SetResult(kVerifyCert, Base64Encode(outcome.signer_certificate));
    state.SetResult(kVerifyFilePath, data->path.string());
  }
  return VerifyOutcome(state, outcome);
}

}  // namespace

void AddSignatureMembers(MemberRegistry& m) {
  m[7] = [](ComponentState& s, const Args& a) { return Code(Pkcs7Sign(s, a.Text(0), a.Int(1), a.Int(2))); };
  m[9] = [](ComponentState& s, const Args& a) { return Code(Pkcs7Verify(s, a.Text(0), a.Text(1), a.Text(2))); };
  m[76] = [](ComponentState& s, const Args& a) { return Code(SignFile(s, a.Text(0), a.Text(1), false)); };
  m[95] = [](ComponentState& s, const Args& a) { return Code(SignFile(s, a.Text(0), {}, true)); };
  m[78] = [](ComponentState& s, const Args& a) { return Code(VerifyFile(s, a.Text(0), a.Text(1), false)); };
  m[96] = [](ComponentState& s, const Args& a) { return Code(VerifyFile(s, a.Text(0), a.Text(1), true)); };
  for (int read : {kSignature, kVerifyCert, kVerifyContent, kVerifyContentBase64, kSignFilePath, kVerifyFilePath}) {
    m[read] = ResultReader(read);
  }
}

}  // namespace p11crypto
