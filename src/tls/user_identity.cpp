#include "tls/user_identity.h"

#include <openssl/bn.h>
#include <openssl/rand.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>

namespace vorlink {
namespace {

struct ExtensionFree {
  void operator()(X509_EXTENSION* e) const { X509_EXTENSION_free(e); }
};
struct BnFree {
  void operator()(BIGNUM* b) const { BN_free(b); }
};
struct StoreFree {
  void operator()(X509_STORE* s) const { X509_STORE_free(s); }
};
struct StoreCtxFree {
  void operator()(X509_STORE_CTX* c) const { X509_STORE_CTX_free(c); }
};

constexpr const char* kRenewalProblem = "ends within 30 days";

// What each certificate says, as OpenSSL's configuration syntax.
constexpr const char* kCaNameConstraints =
    "critical,permitted;DNS:localhost,permitted;IP:127.0.0.1/255.255.255.255,"
    "permitted;IP:::1/ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff";
constexpr const char* kServerNames = "DNS:localhost,IP:127.0.0.1,IP:::1";

struct LoopbackName {
  const char* host;
  const char* ip;
};
constexpr LoopbackName kLoopbackNames[] = {{"localhost", nullptr}, {nullptr, "127.0.0.1"}, {nullptr, "::1"}};

// ECDSA P-256: accepted by every current browser, made in about a
// millisecond, and its handshakes cost less than RSA's.
EvpPkeyPtr NewKey() { return EvpPkeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256")); }

std::string RandomHex(int bytes) {
  unsigned char raw[16];
  if (bytes > 16 || RAND_bytes(raw, bytes) != 1) return {};
  std::string hex;
  for (int i = 0; i < bytes; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", raw[i]);
    hex += pair;
  }
  return hex;
}

// 16 random bytes, positive: NSS keys certificates by issuer and serial.
bool SetRandomSerial(X509* cert) {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return false;
  bytes[0] = static_cast<unsigned char>((bytes[0] & 0x7f) | 0x01);
  std::unique_ptr<BIGNUM, BnFree> bn(BN_bin2bn(bytes, sizeof bytes, nullptr));
  return bn && BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert)) != nullptr;
}

bool SetName(X509_NAME* name, const std::string& common_name) {
  const auto text = [](const std::string& s) { return reinterpret_cast<const unsigned char*>(s.c_str()); };
  return X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, text("Vorlink45"), -1, -1, 0) == 1 &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, text(common_name), -1, -1, 0) == 1;
}

bool AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, ExtensionFree> ext(X509V3_EXT_nconf_nid(nullptr, &ctx, nid, value));
  return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

// A version 3 certificate for `subject_key` with a fresh serial, valid from
// an hour before `now` (a clock a little behind still accepts it).
X509Ptr NewCertificate(EVP_PKEY* subject_key, std::time_t now, int validity_days) {
  X509Ptr cert(X509_new());
  if (!cert || X509_set_version(cert.get(), X509_VERSION_3) != 1 || X509_set_pubkey(cert.get(), subject_key) != 1 ||
      !SetRandomSerial(cert.get()) || !X509_time_adj_ex(X509_getm_notBefore(cert.get()), 0, -3600, &now) ||
      !X509_time_adj_ex(X509_getm_notAfter(cert.get()), validity_days, 0, &now)) {
    return nullptr;
  }
  return cert;
}

X509Ptr MakeAuthority(EVP_PKEY* key, std::time_t now, int validity_days) {
  X509Ptr ca = NewCertificate(key, now, validity_days);
  const std::string id = RandomHex(6);
  if (!ca || id.empty() || !SetName(X509_get_subject_name(ca.get()), kIdentityCaNamePrefix + id) ||
      X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get())) != 1 ||
      !AddExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE,pathlen:0") ||
      !AddExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign") ||
      !AddExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash") ||
      !AddExtension(ca.get(), ca.get(), NID_name_constraints, kCaNameConstraints) ||
      X509_sign(ca.get(), key, EVP_sha256()) <= 0) {
    return nullptr;
  }
  return ca;
}

X509Ptr MakeServerCertificate(X509* ca, EVP_PKEY* ca_key, EVP_PKEY* key, std::time_t now, int validity_days) {
  X509Ptr cert = NewCertificate(key, now, validity_days);
  if (!cert || !SetName(X509_get_subject_name(cert.get()), "localhost") ||
      X509_set_issuer_name(cert.get(), X509_get_subject_name(ca)) != 1 ||
      !AddExtension(cert.get(), ca, NID_basic_constraints, "critical,CA:FALSE") ||
      !AddExtension(cert.get(), ca, NID_key_usage, "critical,digitalSignature") ||
      !AddExtension(cert.get(), ca, NID_ext_key_usage, "serverAuth") ||
      !AddExtension(cert.get(), ca, NID_subject_alt_name, kServerNames) ||
      !AddExtension(cert.get(), ca, NID_subject_key_identifier, "hash") ||
      !AddExtension(cert.get(), ca, NID_authority_key_identifier, "keyid:always") ||
      X509_sign(cert.get(), ca_key, EVP_sha256()) <= 0) {
    return nullptr;
  }
  return cert;
}

std::vector<std::uint8_t> Der(X509* cert) {
  unsigned char* der = nullptr;
  const int length = cert ? i2d_X509(cert, &der) : -1;
  std::vector<std::uint8_t> bytes;
  if (length > 0) bytes.assign(der, der + length);
  OPENSSL_free(der);
  return bytes;
}

std::time_t EndOf(X509* cert) {
  std::tm tm{};
  if (ASN1_TIME_to_tm(X509_get0_notAfter(cert), &tm) != 1) return 0;
  return ::timegm(&tm);
}

// The chain as a TLS client checks it for one name, at `now`.
std::string ChainProblem(const UserIdentity& identity, const LoopbackName& name, std::time_t now) {
  std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
  std::unique_ptr<X509_STORE_CTX, StoreCtxFree> ctx(X509_STORE_CTX_new());
  if (!store || !ctx || X509_STORE_add_cert(store.get(), identity.ca.get()) != 1 ||
      X509_STORE_CTX_init(ctx.get(), store.get(), identity.certificate.get(), nullptr) != 1) {
    return "cannot check the chain";
  }
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
  X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
  X509_VERIFY_PARAM_set_time(param, now);
  if (name.host) X509_VERIFY_PARAM_set1_host(param, name.host, 0);
  if (name.ip) X509_VERIFY_PARAM_set1_ip_asc(param, name.ip);
  if (X509_verify_cert(ctx.get()) == 1) return {};
  return std::string("not valid for ") + (name.host ? name.host : name.ip) + ": " +
         X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get()));
}

std::string AuthorityProblem(X509* ca) {
  const int at = X509_get_ext_by_NID(ca, NID_name_constraints, -1);
  if (at < 0 || X509_EXTENSION_get_critical(X509_get_ext(ca, at)) != 1)
    return "the authority has no critical name constraints";
  if (X509_check_ca(ca) != 1 || X509_get_pathlen(ca) != 0) return "the authority's path length is not 0";
  return {};
}

}  // namespace

std::string UserIdentity::CaName() const {
  char name[256] = "";
  if (ca) X509_NAME_get_text_by_NID(X509_get_subject_name(ca.get()), NID_commonName, name, sizeof name);
  return name;
}

std::vector<std::uint8_t> UserIdentity::CaDer() const { return Der(ca.get()); }
std::vector<std::uint8_t> UserIdentity::CertificateDer() const { return Der(certificate.get()); }

std::time_t UserIdentity::NotAfter() const {
  if (!ca || !certificate) return 0;
  return std::min(EndOf(ca.get()), EndOf(certificate.get()));
}

std::optional<UserIdentity> MakeUserIdentity(std::time_t now, int validity_days) {
  UserIdentity identity;
  identity.key = NewKey();
  if (!identity.key) return std::nullopt;
  {
    // The authority's key lives only in this scope: EVP_PKEY_free clears
    // the private key when it goes.
    const EvpPkeyPtr ca_key = NewKey();
    if (!ca_key) return std::nullopt;
    identity.ca = MakeAuthority(ca_key.get(), now, validity_days);
    if (!identity.ca) return std::nullopt;
    identity.certificate =
        MakeServerCertificate(identity.ca.get(), ca_key.get(), identity.key.get(), now, validity_days);
  }
  if (!identity.certificate) return std::nullopt;
  return identity;
}

std::string IdentityProblem(const UserIdentity& identity, std::time_t now) {
  if (!identity.ca || !identity.certificate || !identity.key) return "incomplete";
  if (X509_check_private_key(identity.certificate.get(), identity.key.get()) != 1) {
    return "the key does not belong to the certificate";
  }
  if (auto problem = AuthorityProblem(identity.ca.get()); !problem.empty()) return problem;
  if (X509_check_ca(identity.certificate.get()) != 0) return "the server certificate is an authority";
  for (const auto& name : kLoopbackNames) {
    if (auto problem = ChainProblem(identity, name, now); !problem.empty()) return problem;
  }
  if (identity.NotAfter() - now < static_cast<std::time_t>(kIdentityRenewalDays) * 86400) return kRenewalProblem;
  return {};
}

bool IsRenewalProblem(const std::string& problem) { return problem == kRenewalProblem; }

}  // namespace vorlink
