#pragma once
// Unicode text to and from Big5 with the additions of Windows code page 950
// (the euro sign, the ETEN characters F9D6-F9FE), through glibc iconv's
// "CP950" table: the code page Traditional Chinese Windows programs
// exchange text in.

#include <optional>
#include <string>
#include <string_view>

namespace p11crypto {

// nullopt when the text holds a character CP950 has no code for.
std::optional<std::string> Utf8ToBig5(std::string_view utf8);
// nullopt when the bytes are not CP950 (a broken or unassigned code).
std::optional<std::string> Big5ToUtf8(std::string_view big5);

}  // namespace p11crypto
