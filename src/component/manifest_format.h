#pragma once
// The module manifest file: hexadecimal text of 256-byte RSA blocks, each
// the raw private-key operation over 256 bytes of manifest text; the text
// lists "name = digest.size" lines separated by CR LF.

#include <openssl/evp.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlink {

inline constexpr std::size_t kManifestBlockSize = 256;

struct ManifestEntry {
  std::string name;                  // relative to the module folder
  std::vector<std::uint8_t> digest;  // 32 bytes, or empty when the line's digest was malformed
  std::int32_t size = 0;
};

// Two characters per byte, upper or lower case. Empty on odd length.
std::optional<std::vector<std::uint8_t>> DecodeManifestHex(std::string_view hex);

// Opens every block with the raw public-key operation and joins them; the
// text ends at the first zero byte. Empty when the data is not a whole
// number of blocks, a block does not open, or the result is not UTF-8 text
// followed by zero padding (what a manifest signed with another key gives).
std::optional<std::string> OpenManifestBlocks(const std::vector<std::uint8_t>& data, EVP_PKEY* key);

// The entry lines of a manifest text; lines that carry none are skipped.
std::vector<ManifestEntry> ParseManifestText(std::string_view text);

// The PEM public key, or nullptr.
EVP_PKEY* ReadPublicKeyPem(std::string_view pem);

}  // namespace vorlink
