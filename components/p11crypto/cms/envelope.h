#pragma once
// CMS EnvelopedData: content encrypted with AES-256-CBC under a random key,
// which travels encrypted to each recipient certificate's RSA key
// (key transport, PKCS#1 v1.5).

#include <openssl/x509.h>

#include <optional>
#include <string>
#include <string_view>

#include "p11crypto/cms/legacy_rsa.h"

namespace p11crypto {

// The envelope's DER; nullopt when the certificate's key cannot take it.
std::optional<std::string> SealEnvelope(X509* recipient, std::string_view content);

enum class OpenResult {
  kOpened,
  kNotEnvelope,      // not DER of a CMS EnvelopedData
  kNotForRecipient,  // no key-transport recipient matches `recipient`
  kFailed,           // the key or the content does not decrypt (one answer for every cause)
};

// Opens an envelope addressed to `recipient`, whose private key is reached
// only through `decrypt`.
OpenResult OpenEnvelope(std::string_view der, X509* recipient, const PrivateDecrypt& decrypt, std::string& content);

}  // namespace p11crypto
