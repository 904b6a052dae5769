#pragma once
// CMS SignedData whose signature the token makes: the structure, the
// signer's certificate and the signed attributes (contentType,
// signingTime, messageDigest) come from OpenSSL; the private key never
// leaves the token. The content's digest is computed by the caller, so a
// file of any size is signed while it streams through.

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <string>

#include "p11crypto/pkcs11/token_session.h"

namespace p11crypto {

struct CmsSignRequest {
  X509* certificate = nullptr;
  CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
  const EVP_MD* md = nullptr;
  Bytes content_digest;            // md over the content
  const Bytes* content = nullptr;  // embedded when set (attached); detached when null
};

struct CmsSignOutcome {
  CK_RV token_error = CKR_OK;  // set when C_Sign failed
  std::string error;           // set when OpenSSL failed
  Bytes der;                   // the ContentInfo on success
};

CmsSignOutcome SignCms(TokenSession& token, const CmsSignRequest& request);

}  // namespace p11crypto
