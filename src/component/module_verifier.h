#pragma once
// Checks the module files installed beside the agent against the signed
// module manifest before a component is created. The manifest is opened
// with the manifest key compiled into the agent; each file's digest is
// keyed with the SHA-256 of the agent's own server certificate, so a module
// passes only together with that certificate.

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "component/manifest_format.h"

namespace vorlink {

enum class ModuleCheckResult { kOk, kLoadFailed, kCheckFailed };

class ModuleVerifier {
 public:
  explicit ModuleVerifier(std::string manifest_key_pem);

  // Verification key = SHA-256 of the server certificate's DER bytes.
  bool SetVerificationKey(std::span<const std::uint8_t> certificate_der);

  // Reloads the manifest and checks every listed file, as one step that
  // concurrent InitDLL requests never interleave.
  ModuleCheckResult LoadAndVerify(const std::filesystem::path& manifest_path);

  std::vector<ManifestEntry> entries() const;

 private:
  bool LoadManifest(const std::filesystem::path& path);
  bool VerifyAll() const;
  bool VerifyEntry(const ManifestEntry& entry) const;

  mutable std::mutex mutex_;
  std::string manifest_key_pem_;
  std::vector<std::uint8_t> verification_key_;
  std::vector<ManifestEntry> entries_;
  std::filesystem::path module_folder_;
};

// SHA-256 over `key` followed by the file's bytes, read in fixed-size
// chunks so memory stays flat whatever the size. Empty on a read error.
std::vector<std::uint8_t> KeyedFileDigest(std::span<const std::uint8_t> key, const std::filesystem::path& file);

}  // namespace vorlink
