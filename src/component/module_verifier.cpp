#include "component/module_verifier.h"

#include <openssl/evp.h>

#include <cstdio>
#include <fstream>
#include <memory>

namespace vorlink {
namespace fs = std::filesystem;

namespace {

struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

std::optional<std::string> ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string content((std::istreambuf_iterator<char>(in)), {});
  if (in.bad()) return std::nullopt;
  return content;
}

}  // namespace

std::vector<std::uint8_t> KeyedFileDigest(std::span<const std::uint8_t> key, const fs::path& file) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.c_str(), "rb"), &std::fclose);
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  if (!in || !ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1 ||
      EVP_DigestUpdate(ctx.get(), key.data(), key.size()) != 1) {
    return {};
  }
  constexpr std::size_t kChunk = 1 << 20;
  const auto chunk = std::make_unique_for_overwrite<unsigned char[]>(kChunk);
  std::size_t n;
  while ((n = std::fread(chunk.get(), 1, kChunk, in.get())) > 0) {
    if (EVP_DigestUpdate(ctx.get(), chunk.get(), n) != 1) return {};
  }
  if (std::ferror(in.get())) return {};
  std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest.data(), &length) != 1) return {};
  digest.resize(length);
  return digest;
}

ModuleVerifier::ModuleVerifier(std::string manifest_key_pem) : manifest_key_pem_(std::move(manifest_key_pem)) {}

bool ModuleVerifier::SetVerificationKey(std::span<const std::uint8_t> certificate_der) {
  if (certificate_der.empty()) return false;
  std::vector<std::uint8_t> key(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  if (EVP_Digest(certificate_der.data(), certificate_der.size(), key.data(), &length, EVP_sha256(), nullptr) != 1) {
    return false;
  }
  key.resize(length);
  std::lock_guard lock(mutex_);
  verification_key_ = std::move(key);
  known_.clear();  // the digests were keyed with the old key
  return true;
}

bool ModuleVerifier::FileState::operator==(const FileState& other) const {
  auto same = [](const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; };
  return device == other.device && inode == other.inode && size == other.size && same(modified, other.modified) &&
         same(changed, other.changed);
}

ModuleCheckResult ModuleVerifier::LoadAndVerify(const fs::path& manifest_path) {
  std::lock_guard lock(mutex_);
  if (!LoadManifest(manifest_path)) return ModuleCheckResult::kLoadFailed;
  return VerifyAll() ? ModuleCheckResult::kOk : ModuleCheckResult::kCheckFailed;
}

std::vector<ManifestEntry> ModuleVerifier::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

bool ModuleVerifier::LoadManifest(const fs::path& path) {
  entries_.clear();
  module_folder_ = path.parent_path();
  const auto hex = ReadWhole(path);
  if (!hex || hex->empty()) return false;
  if (!manifest_key_) manifest_key_.reset(ReadPublicKeyPem(manifest_key_pem_));
  const auto data = DecodeManifestHex(*hex);
  if (!manifest_key_ || !data) return false;
  const auto text = OpenManifestBlocks(*data, manifest_key_.get());
  if (!text) return false;
  entries_ = ParseManifestText(*text);
  return true;
}

bool ModuleVerifier::VerifyAll() {
  if (entries_.empty()) return false;
  std::map<fs::path, KnownDigest> known;  // of the files listed now
  bool all = true;
  for (const auto& entry : entries_) all = all && VerifyEntry(entry, known);
  known_ = std::move(known);
  return all;
}

bool ModuleVerifier::VerifyEntry(const ManifestEntry& entry, std::map<fs::path, KnownDigest>& known) {
  const fs::path file = module_folder_ / entry.name;
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (st.st_size == 0 || static_cast<std::uintmax_t>(st.st_size) != static_cast<std::uintmax_t>(entry.size)) {
    return false;
  }
  if (entry.digest.empty()) return false;
  const FileState state{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
  // The state is taken before the bytes are read: a write while they are
  // read changes it, so the next check reads them again.
  const auto was = known_.find(file);
  KnownDigest now = was != known_.end() && was->second.state == state
                        ? was->second
                        : KnownDigest{state, KeyedFileDigest(verification_key_, file)};
  if (now.digest.empty()) return false;  // a read error is not remembered
  const bool match = now.digest == entry.digest;
  known[file] = std::move(now);
  return match;
}

}  // namespace vorlink
