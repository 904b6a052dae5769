#pragma once
// Conversions of bytes into the UTF-16 text the log and the viewer show.

#include <string>
#include <string_view>

namespace vorlink {

// UTF-8 text as UTF-16; bytes that are not UTF-8 (or a sequence cut short)
// show as U+FFFD instead of failing.
std::u16string ToLogText(std::string_view utf8);

// Each byte as the UTF-16 unit of the same number (no decoding).
std::u16string Widen(std::string_view bytes);

}  // namespace vorlink
