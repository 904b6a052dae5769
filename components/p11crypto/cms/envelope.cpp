#include "p11crypto/cms/envelope.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>

#include <climits>
#include <memory>

#include "p11crypto/crypto/openssl_ptr.h"

namespace p11crypto {
namespace {

struct FreeStack {
  void operator()(STACK_OF(X509) * stack) const { sk_X509_free(stack); }  // not the certificates
};

std::string BioText(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

bool AddressedTo(CMS_ContentInfo* cms, X509* recipient) {
  STACK_OF(CMS_RecipientInfo)* infos = CMS_get0_RecipientInfos(cms);
  for (int i = 0; i < sk_CMS_RecipientInfo_num(infos); ++i) {
    CMS_RecipientInfo* info = sk_CMS_RecipientInfo_value(infos, i);
    if (CMS_RecipientInfo_type(info) == CMS_RECIPINFO_TRANS && CMS_RecipientInfo_ktri_cert_cmp(info, recipient) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<std::string> SealEnvelope(X509* recipient, std::string_view content) {
  // Key transport to RSA only: the token side decrypts with CKM_RSA_PKCS.
  EVP_PKEY* key = X509_get0_pubkey(recipient);
  if (content.size() > INT_MAX || !key || !EVP_PKEY_is_a(key, "RSA")) return std::nullopt;
  std::unique_ptr<STACK_OF(X509), FreeStack> recipients(sk_X509_new_null());
  BioPtr in(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
  BioPtr out(BIO_new(BIO_s_mem()));
  if (!recipients || !in || !out || !sk_X509_push(recipients.get(), recipient)) return std::nullopt;
  CmsPtr cms(CMS_encrypt(recipients.get(), in.get(), EVP_aes_256_cbc(), CMS_BINARY));
  if (!cms || i2d_CMS_bio(out.get(), cms.get()) != 1) return std::nullopt;
  return BioText(out.get());
}

OpenResult OpenEnvelope(std::string_view der, X509* recipient, const PrivateDecrypt& decrypt, std::string& content) {
  const auto* at = reinterpret_cast<const unsigned char*>(der.data());
  CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &at, static_cast<long>(der.size())));
  if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_enveloped) return OpenResult::kNotEnvelope;
  if (!AddressedTo(cms.get(), recipient)) return OpenResult::kNotForRecipient;
  DelegatedRsaKey key(recipient, decrypt);
  BioPtr out(BIO_new(BIO_s_secmem()));  // cleansed when freed: it holds the plain text
  if (!key.get() || !out || CMS_decrypt(cms.get(), key.get(), recipient, nullptr, out.get(), CMS_BINARY) != 1) {
    return OpenResult::kFailed;
  }
  content = BioText(out.get());
  return OpenResult::kOpened;
}

}  // namespace p11crypto
