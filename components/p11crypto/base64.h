#pragma once
// Base64 (RFC 4648, standard alphabet) for the binary values that members
// take and give as text.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace p11crypto {

std::string Base64Encode(const std::uint8_t* data, size_t size);
inline std::string Base64Encode(const std::vector<std::uint8_t>& data) { return Base64Encode(data.data(), data.size()); }
inline std::string Base64Encode(const std::string& data) {
  return Base64Encode(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
}

// Accepts line breaks and spaces anywhere; nullopt for anything else that
// is not Base64 (wrong characters, wrong padding, truncated groups).
std::optional<std::vector<std::uint8_t>> Base64Decode(const std::string& text);

}  // namespace p11crypto
