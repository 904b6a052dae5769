#include "p11crypto/base64.h"

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

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

void EncodeGroup(const std::uint8_t* in, int count, std::string& out) {
  const std::uint32_t group = (in[0] << 16) | (count > 1 ? in[1] << 8 : 0) | (count > 2 ? in[2] : 0);
  out += kAlphabet[(group >> 18) & 0x3F];
  out += kAlphabet[(group >> 12) & 0x3F];
  out += count > 1 ? kAlphabet[(group >> 6) & 0x3F] : '=';
  out += count > 2 ? kAlphabet[group & 0x3F] : '=';
}

}  // namespace

void Base64Encoder::Update(std::string_view bytes, std::string& out) {
  out.reserve(out.size() + (bytes.size() + held_count_) / 3 * 4 + 4);
  size_t i = 0;
  if (held_count_ > 0) {
    while (held_count_ < 3 && i < bytes.size()) held_[held_count_++] = static_cast<std::uint8_t>(bytes[i++]);
    if (held_count_ < 3) return;
    EncodeGroup(held_, 3, out);
    held_count_ = 0;
  }
  for (; i + 3 <= bytes.size(); i += 3) EncodeGroup(reinterpret_cast<const std::uint8_t*>(bytes.data() + i), 3, out);
  for (; i < bytes.size(); ++i) held_[held_count_++] = static_cast<std::uint8_t>(bytes[i]);
}

void Base64Encoder::Final(std::string& out) {
  if (held_count_ > 0) EncodeGroup(held_, held_count_, out);
  held_count_ = 0;
}

bool Base64Decoder::Update(std::string_view text, std::string& out) {
  if (failed_) return false;
  out.reserve(out.size() + text.size() / 4 * 3 + 3);
  for (char c : text) {
    if (IsSpace(c)) continue;
    if (c == '=') {
      // Padding completes a group of two or three sextets, at most twice.
      if ((padding_ == 0 && sextets_ < 2) || sextets_ + padding_ >= 4) return failed_ = true, false;
      ++padding_;
      continue;
    }
    const int sextet = SextetOf(c);
    if (sextet < 0 || padding_ > 0) return failed_ = true, false;
    bits_ = (bits_ << 6) | static_cast<std::uint32_t>(sextet);
    if (++sextets_ == 4) {
      out += static_cast<char>(bits_ >> 16);
      out += static_cast<char>(bits_ >> 8);
      out += static_cast<char>(bits_);
      bits_ = 0;
      sextets_ = 0;
    }
  }
  return true;
}

bool Base64Decoder::Flush(std::string& out) {
  if (sextets_ == 0) return padding_ == 0;
  if (sextets_ + padding_ != 4) return false;  // a truncated group or missing padding
  const int unused_bits = sextets_ == 2 ? 4 : 2;
  if (bits_ & ((1u << unused_bits) - 1)) return false;  // a second encoding of the same bytes
  const std::uint32_t value = bits_ >> unused_bits;
  if (sextets_ == 3) out += static_cast<char>(value >> 8);
  out += static_cast<char>(value);
  return true;
}

bool Base64Decoder::Final(std::string& out) {
  if (failed_) return false;
  const bool ok = Flush(out);
  failed_ = !ok;
  bits_ = 0;
  sextets_ = 0;
  padding_ = 0;
  return ok;
}

std::string Base64Encode(const std::uint8_t* data, size_t size) {
  std::string out;
  Base64Encoder encoder;
  encoder.Update({reinterpret_cast<const char*>(data), size}, out);
  encoder.Final(out);
  return out;
}

std::optional<std::string> Base64DecodeToString(std::string_view text) {
  std::string out;
  Base64Decoder decoder;
  if (!decoder.Update(text, out) || !decoder.Final(out)) return std::nullopt;
  return out;
}

std::optional<std::vector<std::uint8_t>> Base64Decode(const std::string& text) {
  const auto bytes = Base64DecodeToString(text);
  if (!bytes) return std::nullopt;
  return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

}  // namespace p11crypto
