#pragma once
// File work that stays flat in memory however large the file: a digest
// read in chunks, and a write that never leaves a half-written file under
// the final name.

#include <openssl/evp.h>

#include <cstdint>
#include <filesystem>
#include <functional>

#include "p11crypto/pkcs11/token_session.h"

namespace p11crypto {

// Called with the bytes done and the total after each chunk.
using Progress = std::function<void(std::uint64_t done, std::uint64_t total)>;

bool DigestFile(const std::filesystem::path& file, const EVP_MD* md, Bytes& digest, const Progress& progress = {});

// Writes to a temporary file in the same folder, flushes it to disk, then
// renames it over `file`.
bool WriteFileAtomically(const std::filesystem::path& file, const Bytes& data);

bool ReadWholeFile(const std::filesystem::path& file, Bytes& data, std::uint64_t limit);

}  // namespace p11crypto
