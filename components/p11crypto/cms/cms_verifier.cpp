#include "p11crypto/cms/cms_verifier.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include "p11crypto/crypto/openssl_ptr.h"
#include "p11crypto/text/base64.h"
#include "p11crypto/text/certificate_text.h"

namespace p11crypto {
namespace {

std::string LastOpenSslError() {
  unsigned long code = 0, last = 0;
  while ((code = ERR_get_error()) != 0) last = code;
  char reason[256] = "unknown reason";
  if (last) ERR_error_string_n(last, reason, sizeof(reason));
  return reason;
}

bool AddTrusted(X509_STORE* store, const std::string& trusted) {
  if (trusted.find("-----BEGIN") != std::string::npos) {
    BioPtr bio(BIO_new_mem_buf(trusted.data(), static_cast<int>(trusted.size())));
    int added = 0;
    while (X509Ptr certificate{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)}) {
      added += X509_STORE_add_cert(store, certificate.get());
    }
    ERR_clear_error();  // the end of the PEM text
    return added > 0;
  }
  std::string item;
  int added = 0;
  for (size_t at = 0; at <= trusted.size(); ++at) {
    const char c = at < trusted.size() ? trusted[at] : ',';
    if (c != ',' && c != ';' && c != ' ' && c != '\n' && c != '\r' && c != '\t') {
      item += c;
      continue;
    }
    if (item.empty()) continue;
    X509Ptr certificate = ParseCertificateText(item);
    if (!certificate) return false;
    added += X509_STORE_add_cert(store, certificate.get());
    item.clear();
  }
  return added > 0;
}

Bytes MemoryBytes(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return Bytes(data, data + size);
}

}  // namespace

CmsVerifyOutcome VerifyCms(const CmsVerifyRequest& request) {
  CmsVerifyOutcome outcome;
  ERR_clear_error();
  const unsigned char* p = request.signature.data();
  CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(request.signature.size())));
  if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
    outcome.bad_input = true;
    outcome.error = "the signature is not a CMS SignedData";
    return outcome;
  }
  X509StorePtr store(X509_STORE_new());
  unsigned flags = CMS_BINARY;
  if (request.trusted.empty()) {
    flags |= CMS_NO_SIGNER_CERT_VERIFY;
  } else {
    if (!AddTrusted(store.get(), request.trusted)) {
      outcome.bad_input = true;
      outcome.error = "the trusted certificates cannot be read";
      return outcome;
    }
    // Any certificate a token holds may sign; the chain is what is checked.
    X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY);
  }
  BioPtr out(request.keep_content ? BIO_new(BIO_s_mem()) : nullptr);
  const bool detached = CMS_is_detached(cms.get()) == 1;
  if (detached && !request.detached) {
    outcome.bad_input = true;
    outcome.error = "the signature is detached: the signed content is needed";
    return outcome;
  }
  outcome.valid = CMS_verify(cms.get(), nullptr, store.get(), detached ? request.detached : nullptr,
                             detached ? nullptr : out.get(), flags) == 1;
  if (!outcome.valid) outcome.error = "the signature does not verify: " + LastOpenSslError();
  if (STACK_OF(X509)* signers = CMS_get0_signers(cms.get())) {
    if (sk_X509_num(signers) > 0) outcome.signer_certificate = CertificateDer(sk_X509_value(signers, 0));
    sk_X509_free(signers);
  }
  if (outcome.valid && !detached && out) outcome.content = MemoryBytes(out.get());
  ERR_clear_error();
  return outcome;
}

}  // namespace p11crypto
