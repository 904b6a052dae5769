#include "p11crypto/text/base64.h"

#include <array>

namespace p11crypto {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Each input byte's sextet, or what else it is.
enum : std::int8_t { kInvalid = -1, kSpace = -2, kPad = -3 };
constexpr std::array<std::int8_t, 256> kDecode = [] {
  std::array<std::int8_t, 256> table{};
  table.fill(kInvalid);
  for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
  for (char c : {' ', '\t', '\r', '\n', '\f', '\v'}) table[static_cast<unsigned char>(c)] = kSpace;
  table['='] = kPad;
  return table;
}();

char* EncodeGroup(const std::uint8_t* in, int count, char* out) {
  const std::uint32_t group = (in[0] << 16) | (count > 1 ? in[1] << 8 : 0) | (count > 2 ? in[2] : 0);
  *out++ = kAlphabet[(group >> 18) & 0x3F];
  *out++ = kAlphabet[(group >> 12) & 0x3F];
  *out++ = count > 1 ? kAlphabet[(group >> 6) & 0x3F] : '=';
  *out++ = count > 2 ? kAlphabet[group & 0x3F] : '=';
  return out;
}

}  // namespace

void Base64Encoder::Update(std::string_view bytes, std::string& out) {
  const size_t start = out.size();
  out.resize(start + (held_count_ + bytes.size()) / 3 * 4);
  char* at = out.data() + start;
  const auto* in = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const auto* end = in + bytes.size();
  if (held_count_ > 0) {
    while (held_count_ < 3 && in < end) held_[held_count_++] = *in++;
    if (held_count_ < 3) return;
    at = EncodeGroup(held_, 3, at);
    held_count_ = 0;
  }
  for (; end - in >= 3; in += 3) at = EncodeGroup(in, 3, at);
  while (in < end) held_[held_count_++] = *in++;
}

void Base64Encoder::Final(std::string& out) {
  if (held_count_ > 0) {
    char group[4];
    EncodeGroup(held_, held_count_, group);
    out.append(group, 4);
  }
  held_count_ = 0;
}

bool Base64Decoder::Update(std::string_view text, std::string& out) {
  if (failed_) return false;
  const size_t start = out.size();
  out.resize(start + (sextets_ + text.size()) / 4 * 3);
  char* at = out.data() + start;
  for (char c : text) {
    const std::int8_t sextet = kDecode[static_cast<unsigned char>(c)];
    if (sextet >= 0 && padding_ == 0) {
      bits_ = (bits_ << 6) | static_cast<std::uint32_t>(sextet);
      if (++sextets_ == 4) {
        *at++ = static_cast<char>(bits_ >> 16);
        *at++ = static_cast<char>(bits_ >> 8);
        *at++ = static_cast<char>(bits_);
        bits_ = 0;
        sextets_ = 0;
      }
    } else if (sextet == kSpace) {
      continue;
    } else if (sextet == kPad && (padding_ > 0 || sextets_ >= 2) && sextets_ + padding_ < 4) {
      ++padding_;  // completes a group of two or three sextets
    } else {
      failed_ = true;  // outside the alphabet, or data after the padding
      break;
    }
  }
  out.resize(static_cast<size_t>(at - out.data()));
  return !failed_;
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
