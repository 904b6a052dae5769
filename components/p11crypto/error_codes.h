#pragma once
// The error numbers members return besides 0. PKCS#11 failures return the
// token's own CKR_ value; everything else returns one of these, chosen
// above any CKR_ value a token defines below its vendor range.

#include <cstdint>

namespace p11crypto {

enum ErrorCode : std::int32_t {
  kOk = 0,
  kNotInitialized = 0x5001,    // Initialize has not loaded a PKCS#11 module
  kModuleLoadFailed = 0x5002,  // the module named in Initialize does not load
  kNoTokenSelected = 0x5003,   // Select_slot has not chosen a token
  kTokenNotFound = 0x5004,     // no token matches Select_slot's argument
  kBadArgument = 0x5005,       // an argument is empty, malformed or out of range
  kCertificateNotFound = 0x5006,
  kKeyNotFound = 0x5007,       // no private key on the token for the certificate
  kCryptoFailed = 0x5008,      // OpenSSL could not build or parse a structure
  kVerifyFailed = 0x5009,      // a signature or MAC does not match
  kFileNotAllowed = 0x500A,    // a path outside the folders the user allowed
  kFileError = 0x500B,         // the file cannot be read or written
  kCancelled = 0x500C,         // the user cancelled a dialog
  kNoData = 0x500D,            // nothing to work on yet (no key, no loaded data)
  kConversionFailed = 0x500E,  // text that the target encoding cannot hold
  kModuleNotAllowed = 0x500F,  // Initialize names a module that is neither registered nor allowed
};

}  // namespace p11crypto
