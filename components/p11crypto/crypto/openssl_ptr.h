#pragma once
// Owning pointers for the OpenSSL objects the members use.

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

namespace p11crypto {

template <typename T, void (*Free)(T*)>
struct OpenSslFree {
  void operator()(T* p) const { Free(p); }
};

using BioPtr = std::unique_ptr<BIO, OpenSslFree<BIO, BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, OpenSslFree<X509, X509_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, OpenSslFree<CMS_ContentInfo, CMS_ContentInfo_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY, EVP_PKEY_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OpenSslFree<EVP_MD_CTX, EVP_MD_CTX_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, OpenSslFree<X509_STORE, X509_STORE_free>>;

inline void FreeX509Stack(STACK_OF(X509) * stack) { sk_X509_pop_free(stack, X509_free); }
using X509StackPtr = std::unique_ptr<STACK_OF(X509), OpenSslFree<STACK_OF(X509), FreeX509Stack>>;

}  // namespace p11crypto
