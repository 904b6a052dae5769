#pragma once
// Checks the module files installed beside the agent against the signed
// module manifest before a component is created. The manifest is opened
// with the manifest key compiled into the agent; each file's digest is
// keyed with the SHA-256 of the agent's own server certificate, so a module
// passes only together with that certificate.

#include <openssl/evp.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
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
  // concurrent InitDLL requests never interleave. A file's digest is read
  // again only when the file may have been written since it was last read
  // (see FileState).
  ModuleCheckResult LoadAndVerify(const std::filesystem::path& manifest_path);

  std::vector<ManifestEntry> entries() const;

 private:
  // What stat says of a file: the same device, inode, size, modification
  // and change time mean the file has not been written since. Any write,
  // truncation, rename onto the name or change of its times sets the
  // change time to the kernel's clock, and no call lets a user set it.
  struct FileState {
    dev_t device;
    ino_t inode;
    off_t size;
    timespec modified, changed;
    bool operator==(const FileState& other) const;
  };
  struct KnownDigest {
    FileState state;
    std::vector<std::uint8_t> digest;
  };
  struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
  };

  bool LoadManifest(const std::filesystem::path& path);
  bool VerifyAll();
  bool VerifyEntry(const ManifestEntry& entry, std::map<std::filesystem::path, KnownDigest>& known);

  mutable std::mutex mutex_;
  std::string manifest_key_pem_;
  std::unique_ptr<EVP_PKEY, PkeyFree> manifest_key_;  // parsed at the first InitDLL
  std::vector<std::uint8_t> verification_key_;
  std::vector<ManifestEntry> entries_;
  std::filesystem::path module_folder_;
  // The keyed digest of each listed file as last read, with its state then.
  std::map<std::filesystem::path, KnownDigest> known_;
};

// SHA-256 over `key` followed by the file's bytes, read in fixed-size
// chunks so memory stays flat whatever the size. Empty on a read error.
std::vector<std::uint8_t> KeyedFileDigest(std::span<const std::uint8_t> key, const std::filesystem::path& file);

}  // namespace vorlink
