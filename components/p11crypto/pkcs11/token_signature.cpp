#include "p11crypto/pkcs11/token_signature.h"

#include <openssl/ec.h>

#include <cstring>

namespace p11crypto {
namespace {

struct HashMechanisms {
  int nid;
  CK_MECHANISM_TYPE rsa_hash_and_sign;
  Bytes digest_info_prefix;  // DER DigestInfo up to the digest octets
};

const HashMechanisms kHashes[] = {
    {NID_sha1,
     CKM_SHA1_RSA_PKCS,
     {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14}},
    {NID_sha256,
     CKM_SHA256_RSA_PKCS,
     {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04,
      0x20}},
    {NID_sha384,
     CKM_SHA384_RSA_PKCS,
     {0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04,
      0x30}},
    {NID_sha512,
     CKM_SHA512_RSA_PKCS,
     {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04,
      0x40}},
};

// PKCS#11 gives r || s; CMS wants the DER SEQUENCE of two INTEGERs.
bool RawToDerEcdsa(Bytes& signature) {
  const size_t half = signature.size() / 2;
  ECDSA_SIG* sig = ECDSA_SIG_new();
  BIGNUM* r = BN_bin2bn(signature.data(), static_cast<int>(half), nullptr);
  BIGNUM* s = BN_bin2bn(signature.data() + half, static_cast<int>(half), nullptr);
  if (!sig || !r || !s || ECDSA_SIG_set0(sig, r, s) != 1) {
    BN_free(r);
    BN_free(s);
    ECDSA_SIG_free(sig);
    return false;
  }
  unsigned char* der = nullptr;
  const int size = i2d_ECDSA_SIG(sig, &der);
  ECDSA_SIG_free(sig);
  if (size <= 0) return false;
  signature.assign(der, der + size);
  OPENSSL_free(der);
  return true;
}

}  // namespace

Bytes Digest(const EVP_MD* md, const Bytes& data) {
  Bytes digest(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  EVP_Digest(data.data(), data.size(), digest.data(), &size, md, nullptr);
  digest.resize(size);
  return digest;
}

KeyKind KindOf(EVP_PKEY* public_key) {
  if (EVP_PKEY_is_a(public_key, "RSA")) return KeyKind::kRsa;
  if (EVP_PKEY_is_a(public_key, "EC")) return KeyKind::kEc;
  return KeyKind::kOther;
}

CK_RV SignOnToken(TokenSession& token, CK_OBJECT_HANDLE key, KeyKind kind, const EVP_MD* md, const Bytes& data,
                  Bytes& signature) {
  if (kind == KeyKind::kEc) {
    const CK_RV rv = token.Sign(key, CKM_ECDSA, Digest(md, data), signature);
    if (rv == CKR_OK && !RawToDerEcdsa(signature)) return CKR_FUNCTION_FAILED;
    return rv;
  }
  if (kind != KeyKind::kRsa) return CKR_KEY_TYPE_INCONSISTENT;
  for (const HashMechanisms& hash : kHashes) {
    if (hash.nid != EVP_MD_get_type(md)) continue;
    if (token.HasMechanism(hash.rsa_hash_and_sign)) return token.Sign(key, hash.rsa_hash_and_sign, data, signature);
    Bytes digest_info = hash.digest_info_prefix;
    const Bytes digest = Digest(md, data);
    digest_info.insert(digest_info.end(), digest.begin(), digest.end());
    return token.Sign(key, CKM_RSA_PKCS, digest_info, signature);
  }
  return CKR_MECHANISM_INVALID;
}

}  // namespace p11crypto
