#include "component/manifest_format.h"

#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>

#include "text/text_codec.h"

namespace vorlink {
namespace {

// The digit rule of the manifest format: no character is refused.
unsigned HexValue(char c) {
  const auto u = static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return u < ':' ? u - 48u : u - 55u;
}

std::string_view Trim(std::string_view s) {
  const char* space = " \t\n\v\f\r";
  const auto first = s.find_first_not_of(space);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(space) - first + 1);
}

std::int32_t ParseSize(std::string_view text) {
  const std::string copy(text);
  const long value = std::strtol(copy.c_str(), nullptr, 0);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

bool IsUtf8(const std::string& text) {
  try {
    DecodeUtf8(text);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};

}  // namespace

std::optional<std::vector<std::uint8_t>> DecodeManifestHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> bytes(hex.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>((16 * HexValue(hex[2 * i]) + HexValue(hex[2 * i + 1])) % 256);
  }
  return bytes;
}

std::optional<std::string> OpenManifestBlocks(const std::vector<std::uint8_t>& data, EVP_PKEY* key) {
  if (key == nullptr || data.empty() || data.size() % kManifestBlockSize != 0) return std::nullopt;
  std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new(key, nullptr));
  if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) <= 0 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) <= 0) {
    return std::nullopt;
  }
  std::string text;
  for (std::size_t offset = 0; offset < data.size(); offset += kManifestBlockSize) {
    unsigned char block[kManifestBlockSize];
    std::size_t length = sizeof block;
    if (EVP_PKEY_verify_recover(ctx.get(), block, &length, data.data() + offset, kManifestBlockSize) <= 0 ||
        length == 0) {
      return std::nullopt;
    }
    text.append(reinterpret_cast<const char*>(block), length);
  }
  // Raw RSA reports no error for a manifest signed with another key: it
  // opens into noise. A real manifest opens into UTF-8 text followed only
  // by zero padding; anything else did not open.
  const auto end = text.find('\0');
  if (end != std::string::npos && text.find_first_not_of('\0', end) != std::string::npos) return std::nullopt;
  text.resize(std::min(end, text.size()));
  if (!IsUtf8(text)) return std::nullopt;
  return text;
}

std::vector<ManifestEntry> ParseManifestText(std::string_view text) {
  std::vector<ManifestEntry> entries;
  while (!text.empty()) {
    const auto end = text.find("\r\n");
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 2);

    const auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view value = Trim(line.substr(equals + 1));
    if (value.size() <= 40) continue;
    const auto dot = value.find('.');
    if (dot == std::string_view::npos) continue;

    ManifestEntry entry;
    entry.name = std::string(Trim(line.substr(0, equals)));
    const std::string_view digest = value.substr(0, dot);
    if (digest.size() == 64) entry.digest = *DecodeManifestHex(digest);
    entry.size = ParseSize(value.substr(dot + 1));
    entries.push_back(std::move(entry));
  }
  return entries;
}

EVP_PKEY* ReadPublicKeyPem(std::string_view pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (!bio) return nullptr;
  EVP_PKEY* key = PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  return key;
}

}  // namespace vorlink
