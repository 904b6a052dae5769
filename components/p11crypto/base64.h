#pragma once
// Base64 (RFC 4648, standard alphabet) for the members that pass bytes as
// text.

#include <optional>
#include <string>
#include <string_view>

namespace p11crypto {

std::string Base64Encode(std::string_view bytes);

// The bytes, or nullopt for text that is not Base64. Line breaks and spaces
// are skipped; the closing '=' padding may be left out.
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace p11crypto
