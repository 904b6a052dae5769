#pragma once
// Base64 (RFC 4648, standard alphabet) for the binary values that members
// take and give as text. Encoding writes no line breaks. Decoding skips
// ASCII white space (so PEM-style lines are fine) and rejects anything
// else: a character outside the alphabet, missing or misplaced padding, a
// truncated group, or non-zero bits after the last byte (a second spelling
// of the same bytes). Both directions also work chunk by chunk, for files
// of any size.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace p11crypto {

std::string Base64Encode(const std::uint8_t* data, size_t size);
inline std::string Base64Encode(const std::vector<std::uint8_t>& data) {
  return Base64Encode(data.data(), data.size());
}
inline std::string Base64Encode(const std::string& data) {
  return Base64Encode(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
}

// nullopt when `text` is not Base64.
std::optional<std::vector<std::uint8_t>> Base64Decode(const std::string& text);
// The same, with the bytes in a string.
std::optional<std::string> Base64DecodeToString(std::string_view text);

class Base64Encoder {
 public:
  void Update(std::string_view bytes, std::string& out);
  void Final(std::string& out);

 private:
  std::uint8_t held_[3] = {};
  int held_count_ = 0;
};

class Base64Decoder {
 public:
  // False once the input is known not to be Base64; the decoder then stays failed.
  bool Update(std::string_view text, std::string& out);
  bool Final(std::string& out);

 private:
  bool Flush(std::string& out);

  std::uint32_t bits_ = 0;
  int sextets_ = 0;  // sextets held in bits_ (0..3)
  int padding_ = 0;  // '=' seen; only white space and '=' may follow
  bool failed_ = false;
};

}  // namespace p11crypto
