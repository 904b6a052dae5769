#include "p11crypto/base64.h"

#include <algorithm>
#include <cstdint>

namespace p11crypto {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int SextetOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0);
    for (std::size_t k = 0; k < 4; ++k) out += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
  }
  return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 3);
  std::uint32_t group = 0;
  int count = 0;    // sextets in the current group
  int padding = 0;  // '=' seen; only more '=' and spaces may follow
  for (const char c : text) {
    if (IsSpace(c)) continue;
    if (c == '=') {
      if (count + padding < 2 || count + padding >= 4) return std::nullopt;
      ++padding;
      continue;
    }
    const int sextet = SextetOf(c);
    if (sextet < 0 || padding) return std::nullopt;
    group = (group << 6) | static_cast<std::uint32_t>(sextet);
    if (++count == 4) {
      out += static_cast<char>(group >> 16);
      out += static_cast<char>(group >> 8);
      out += static_cast<char>(group);
      group = 0;
      count = 0;
    }
  }
  if (count == 1) return std::nullopt;  // six bits cannot make a byte
  if (padding && count + padding != 4) return std::nullopt;
  if (count >= 2) out += static_cast<char>(group >> (count == 2 ? 4 : 10));
  if (count == 3) out += static_cast<char>(group >> 2);
  return out;
}

}  // namespace p11crypto
