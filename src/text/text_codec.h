#pragma once
// Text inside the agent is UTF-16; field values arrive and answers leave as
// UTF-8. These two conversions are the only way between the two.

#include <string>
#include <string_view>

namespace vorlink {

// Writes each UTF-16 unit as its own UTF-8 sequence of one to three bytes.
// A surrogate pair therefore becomes two three-byte sequences. Never fails.
std::string EncodeUtf8(std::u16string_view text);

// UTF-16 text as the log shows it: a surrogate pair becomes the one
// four-byte sequence of its character; a lone surrogate still becomes its
// own three bytes (which the log then shows as U+FFFD).
std::string EncodeUtf8Characters(std::u16string_view text);

// Strict UTF-8 to UTF-16; characters beyond U+FFFF become surrogate pairs.
// Throws std::range_error("bad conversion") on bytes that are not UTF-8:
// stray continuation bytes, truncated sequences, overlong forms, encoded
// surrogates and code points above U+10FFFF.
std::u16string DecodeUtf8(std::string_view bytes);

}  // namespace vorlink
