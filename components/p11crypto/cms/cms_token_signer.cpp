#include "p11crypto/cms/cms_token_signer.h"

#include <openssl/err.h>
#include <openssl/pkcs7.h>

#include "p11crypto/crypto/openssl_ptr.h"
#include "p11crypto/pkcs11/token_signature.h"

namespace p11crypto {
namespace {

constexpr unsigned kFlags = CMS_PARTIAL | CMS_BINARY | CMS_NOSMIMECAP;

std::string OpenSslError(const char* what) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  char reason[256] = "";
  if (code) ERR_error_string_n(code, reason, sizeof(reason));
  return std::string(what) + (code ? std::string(": ") + reason : "");
}

bool AddSignedAttributes(CMS_SignerInfo* signer, const Bytes& digest) {
  ASN1_TIME* now = X509_gmtime_adj(nullptr, 0);
  const bool added =
      now &&
      CMS_signed_add1_attr_by_NID(signer, NID_pkcs9_contentType, V_ASN1_OBJECT, OBJ_nid2obj(NID_pkcs7_data), -1) &&
      CMS_signed_add1_attr_by_NID(signer, NID_pkcs9_signingTime, now->type, now, -1) &&
      CMS_signed_add1_attr_by_NID(signer, NID_pkcs9_messageDigest, V_ASN1_OCTET_STRING, digest.data(),
                                  static_cast<int>(digest.size()));
  ASN1_TIME_free(now);
  return added;
}

// The signed attributes as the DER SET OF that the signature covers.
// OpenSSL 3.0 does not export the CMS item for it; the PKCS#7 one encodes
// the same sorted SET.
bool SignedAttributesDer(CMS_SignerInfo* signer, Bytes& der) {
  STACK_OF(X509_ATTRIBUTE)* attributes = sk_X509_ATTRIBUTE_new_null();
  if (!attributes) return false;
  for (int i = 0; i < CMS_signed_get_attr_count(signer); ++i) {
    sk_X509_ATTRIBUTE_push(attributes, CMS_signed_get_attr(signer, i));
  }
  unsigned char* out = nullptr;
  const int size = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(attributes), &out, ASN1_ITEM_rptr(PKCS7_ATTR_SIGN));
  sk_X509_ATTRIBUTE_free(attributes);  // the attributes stay the signer's
  if (size <= 0) return false;
  der.assign(out, out + size);
  OPENSSL_free(out);
  return true;
}

bool SetContent(CMS_ContentInfo* cms, const Bytes* content) {
  if (!content) return CMS_set_detached(cms, 1) == 1;
  ASN1_OCTET_STRING** slot = CMS_get0_content(cms);
  if (!slot) return false;
  if (!*slot) *slot = ASN1_OCTET_STRING_new();
  if (!*slot) return false;
  (*slot)->flags &= ~ASN1_STRING_FLAG_CONT;  // the bytes are here, not streamed later
  return ASN1_OCTET_STRING_set(*slot, content->data(), static_cast<int>(content->size())) == 1;
}

}  // namespace

CmsSignOutcome SignCms(TokenSession& token, const CmsSignRequest& request) {
  CmsSignOutcome outcome;
  PkeyPtr public_key(X509_get_pubkey(request.certificate));
  CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, kFlags));
  if (!public_key || !cms) {
    outcome.error = OpenSslError("cannot start the SignedData");
    return outcome;
  }
  // With CMS_PARTIAL OpenSSL only checks that the key matches the
  // certificate; the public key is enough for that.
  CMS_SignerInfo* signer = CMS_add1_signer(cms.get(), request.certificate, public_key.get(), request.md, kFlags);
  Bytes attributes;
  if (!signer || !AddSignedAttributes(signer, request.content_digest) || !SignedAttributesDer(signer, attributes) ||
      !SetContent(cms.get(), request.content)) {
    outcome.error = OpenSslError("cannot build the SignedData");
    return outcome;
  }
  Bytes signature;
  outcome.token_error = SignOnToken(token, request.key, KindOf(public_key.get()), request.md, attributes, signature);
  if (outcome.token_error != CKR_OK) return outcome;
  if (ASN1_STRING_set(CMS_SignerInfo_get0_signature(signer), signature.data(), static_cast<int>(signature.size())) !=
      1) {
    outcome.error = OpenSslError("cannot store the signature");
    return outcome;
  }
  unsigned char* der = nullptr;
  const int size = i2d_CMS_ContentInfo(cms.get(), &der);
  if (size <= 0) {
    outcome.error = OpenSslError("cannot encode the SignedData");
    return outcome;
  }
  outcome.der.assign(der, der + size);
  OPENSSL_free(der);
  return outcome;
}

}  // namespace p11crypto
