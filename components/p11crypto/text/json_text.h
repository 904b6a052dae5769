#pragma once
// A JSON string literal for a UTF-8 text (quotes included).

#include <string>

namespace p11crypto {

std::string JsonString(const std::string& text);

}  // namespace p11crypto
