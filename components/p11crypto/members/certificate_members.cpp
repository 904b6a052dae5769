// Certificates on the token and in the page's hands: getCardCert,
// CardCertSerial, parserX509 and their property reads.

#include "p11crypto/members/member_registry.h"
#include "p11crypto/members/member_support.h"
#include "p11crypto/pkcs11/signing_identity.h"
#include "p11crypto/text/base64.h"
#include "p11crypto/text/certificate_text.h"

namespace p11crypto {
namespace {

enum Result {
  kCert = 13,
  kSignCert = 20,
  kIssuer = 27,
  kVersion = 28,
  kSerial = 29,
  kNotBefore = 30,
  kNotAfter = 31,
  kPublicKey = 32,
  kSubject = 33,
  kCardCertSerial = 55,
  kCommonName = 56,
};

// Remembers `der` as the certificate token work uses from now on.
void Choose(ComponentState& state, const Bytes& der) {
  state.chosen_certificate.assign(der.begin(), der.end());
  state.SetResult(kSignCert, Base64Encode(der));
  if (X509Ptr certificate = ParseCertificate(der)) {
    state.SetResult(kCommonName, DescribeCertificate(certificate.get()).common_name);
  }
}

std::int32_t GetCardCert(ComponentState& state, std::int32_t index) {
  std::vector<TokenCertificate> certificates;
  if (const std::int32_t code = TokenCertificates(state, certificates); code != kOk) return code;
  if (index < 0 || static_cast<size_t>(index) >= certificates.size()) {
    return Fail(state, kCertificateNotFound,
                "certificate index " + std::to_string(index) + " is out of range: the token holds " +
                    std::to_string(certificates.size()));
  }
  state.SetResult(kCert, Base64Encode(certificates[index].der));
  Choose(state, certificates[index].der);
  return Succeed(state);
}

std::int32_t CardCertSerial(ComponentState& state) {
  TokenCertificate certificate;
  if (const std::int32_t code = ChosenCertificate(state, certificate); code != kOk) return code;
  X509Ptr parsed = ParseCertificate(certificate.der);
  if (!parsed) return Fail(state, kCryptoFailed, "the token's certificate is not a valid X.509 certificate");
  Choose(state, certificate.der);
  state.SetResult(kCardCertSerial, DescribeCertificate(parsed.get()).serial);
  return Succeed(state);
}

std::int32_t ParserX509(ComponentState& state, const std::string& text) {
  X509Ptr certificate = ParseCertificateText(text);
  if (!certificate) return Fail(state, kBadArgument, "Param1 is not a Base64 DER or PEM certificate");
  const CertificateText words = DescribeCertificate(certificate.get());
  state.results[kVersion] = Value::Int(words.version);
  state.SetResult(kSerial, words.serial);
  state.SetResult(kIssuer, words.issuer);
  state.SetResult(kSubject, words.subject);
  state.SetResult(kNotBefore, words.not_before);
  state.SetResult(kNotAfter, words.not_after);
  state.SetResult(kPublicKey, words.public_key);
  return Succeed(state);
}

}  // namespace

void AddCertificateMembers(MemberRegistry& m) {
  m[12] = [](ComponentState& s, const Args& a) { return Code(GetCardCert(s, a.Int(0))); };
  m[54] = [](ComponentState& s, const Args&) { return Code(CardCertSerial(s)); };
  m[26] = [](ComponentState& s, const Args& a) { return Code(ParserX509(s, a.Text(0))); };
  for (int read : {kCert, kSignCert, kIssuer, kSerial, kNotBefore, kNotAfter, kPublicKey, kSubject, kCardCertSerial,
                   kCommonName}) {
    m[read] = ResultReader(read);
  }
  m[kVersion] = ResultReader(kVersion, Value::Int(0));
}

}  // namespace p11crypto
