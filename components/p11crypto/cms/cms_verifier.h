#pragma once
// Checks a CMS SignedData: the signature over the content (embedded, or
// given separately and streamed), and, when trusted authorities are given,
// the signer's certificate chain up to one of them.

#include <openssl/bio.h>

#include <cstdint>
#include <string>

#include "p11crypto/pkcs11/token_session.h"

namespace p11crypto {

struct CmsVerifyRequest {
  Bytes signature;          // DER ContentInfo
  BIO* detached = nullptr;  // the content of a detached signature, read once
  std::string trusted;  // PEM certificates, or Base64 DER ones separated by ',' ';' or blanks; empty: no chain check
  bool keep_content = true;  // return an embedded content
};

struct CmsVerifyOutcome {
  bool valid = false;
  bool bad_input = false;  // the signature or the authorities could not be read
  std::string error;
  Bytes signer_certificate;  // DER
  Bytes content;             // the embedded content (attached signatures)
};

CmsVerifyOutcome VerifyCms(const CmsVerifyRequest& request);

}  // namespace p11crypto
