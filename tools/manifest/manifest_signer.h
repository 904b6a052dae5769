#pragma once
// Writes module manifests: the tool that stays outside the agent (it needs
// the manifest key's private half, which the agent never holds).

#include <filesystem>
#include <string>
#include <vector>

namespace vorlink::manifest {

struct SignRequest {
  std::string private_key_pem;
  std::vector<std::uint8_t> server_certificate_der;  // derives the digest key
  std::filesystem::path base;                        // names are relative to it
  std::vector<std::string> files;
};

// The manifest text ("name=DIGEST.size" lines joined by CR LF) for the
// files; throws std::runtime_error naming a file that cannot be read.
std::string ManifestText(const SignRequest& request);

// The hexadecimal manifest: the text NUL-padded to whole 256-byte blocks,
// each block put through the raw private-key operation. Throws on a bad key
// or a text byte at or above 0x80 in a block's first position.
std::string SignManifestText(const std::string& text, const std::string& private_key_pem);

}  // namespace vorlink::manifest
