#include "p11crypto/base64.h"

#include <openssl/evp.h>

namespace p11crypto {

std::string Base64Encode(const std::uint8_t* data, size_t size) {
  std::string out(4 * ((size + 2) / 3), '\0');
  // EVP_EncodeBlock takes an int length; encode in slices that fit.
  constexpr size_t kSlice = 3 * (1 << 20);
  size_t written = 0;
  for (size_t at = 0; at < size; at += kSlice) {
    const size_t n = std::min(kSlice, size - at);
    written += EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data() + written), data + at, static_cast<int>(n));
  }
  out.resize(written);
  return out;
}

std::optional<std::vector<std::uint8_t>> Base64Decode(const std::string& text) {
  std::string compact;
  compact.reserve(text.size());
  for (char c : text) {
    if (c != '\r' && c != '\n' && c != ' ' && c != '\t') compact += c;
  }
  if (compact.size() % 4 != 0) return std::nullopt;
  const size_t padding = compact.empty() ? 0 : (compact.back() == '=') + (compact.size() > 1 && compact[compact.size() - 2] == '=');
  std::vector<std::uint8_t> out(compact.size() / 4 * 3);
  size_t written = 0;
  constexpr size_t kSlice = 4 * (1 << 20);
  for (size_t at = 0; at < compact.size(); at += kSlice) {
    const size_t n = std::min(kSlice, compact.size() - at);
    const int got = EVP_DecodeBlock(out.data() + written, reinterpret_cast<const unsigned char*>(compact.data() + at),
                                    static_cast<int>(n));
    if (got < 0) return std::nullopt;
    written += static_cast<size_t>(got);
  }
  // '=' is only valid as the last one or two characters.
  const auto first_pad = compact.find('=');
  if (first_pad != std::string::npos && first_pad < compact.size() - padding) return std::nullopt;
  out.resize(written - padding);
  return out;
}

}  // namespace p11crypto
