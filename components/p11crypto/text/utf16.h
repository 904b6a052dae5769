#pragma once
// UTF-16 (the ABI's text) to and from UTF-8 (the component's text). Lone
// surrogates become U+FFFD: a page can send any text, and no member should
// see a malformed one.

#include <cstddef>
#include <cstdint>
#include <string>

namespace p11crypto {

std::string Utf16ToUtf8(const std::uint16_t* text, size_t length);
std::u16string Utf8ToUtf16(const std::string& text);

}  // namespace p11crypto
