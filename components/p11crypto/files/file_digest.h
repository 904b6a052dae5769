#pragma once
// A digest of a whole file, read in fixed chunks so that memory stays flat
// however large the file is.

#include <openssl/evp.h>

#include <cstdint>
#include <functional>

#include "p11crypto/pkcs11/token_session.h"

namespace p11crypto {

// Called with the bytes done and the total after each chunk.
using Progress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Digests what is left to read from `fd`, a regular file opened for reading.
bool DigestFile(int fd, const EVP_MD* md, Bytes& digest, const Progress& progress = {});

}  // namespace p11crypto
