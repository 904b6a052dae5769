#include "component/module_verifier.h"

#include <openssl/evp.h>

#include <cstdio>
#include <fstream>
#include <memory>

namespace vorlink {
namespace fs = std::filesystem;

namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
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
  std::vector<unsigned char> chunk(1 << 20);
  std::size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), in.get())) > 0) {
    if (EVP_DigestUpdate(ctx.get(), chunk.data(), n) != 1) return {};
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
  return true;
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
  std::unique_ptr<EVP_PKEY, PkeyFree> key(ReadPublicKeyPem(manifest_key_pem_));
  const auto data = DecodeManifestHex(*hex);
  if (!key || !data) return false;
  const auto text = OpenManifestBlocks(*data, key.get());
  if (!text) return false;
  entries_ = ParseManifestText(*text);
  return true;
}

bool ModuleVerifier::VerifyAll() const {
  if (entries_.empty()) return false;
  for (const auto& entry : entries_) {
    if (!VerifyEntry(entry)) return false;
  }
  return true;
}

bool ModuleVerifier::VerifyEntry(const ManifestEntry& entry) const {
  const fs::path file = module_folder_ / entry.name;
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return false;
  const auto size = fs::file_size(file, ec);
  if (ec || size == 0 || size != static_cast<std::uintmax_t>(entry.size)) return false;
  if (entry.digest.empty()) return false;
  return KeyedFileDigest(verification_key_, file) == entry.digest;
}

}  // namespace vorlink
