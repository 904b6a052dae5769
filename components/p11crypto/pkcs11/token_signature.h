#pragma once
// A raw signature made on the token over data the component prepared:
// hash-and-sign mechanisms when the token offers them, else the digest in
// a DigestInfo (RSA) or the bare digest (EC) with the plain mechanism.

#include <openssl/evp.h>

#include "p11crypto/pkcs11/token_session.h"

namespace p11crypto {

enum class KeyKind { kRsa, kEc, kOther };

KeyKind KindOf(EVP_PKEY* public_key);

// `md` over `data`.
Bytes Digest(const EVP_MD* md, const Bytes& data);

// Signs `data` with `key` using `md`. For EC keys the result is the DER
// ECDSA-Sig-Value that CMS expects. Returns the CKR_ value.
CK_RV SignOnToken(TokenSession& token, CK_OBJECT_HANDLE key, KeyKind kind, const EVP_MD* md, const Bytes& data,
                  Bytes& signature);

}  // namespace p11crypto
