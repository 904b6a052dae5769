#pragma once
// Whether bytes are well-formed UTF-8: members whose result is text refuse
// to hand back bytes that the ABI could only pass on with replacements.

#include <string_view>

namespace p11crypto {

// Shortest forms only, no surrogates, nothing above U+10FFFF.
bool IsUtf8(std::string_view bytes);

}  // namespace p11crypto
