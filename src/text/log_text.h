#pragma once
// How the log and the traces show bytes, written straight into UTF-8 text:
// decoded (UTF-8 kept as it is, what is not UTF-8 replaced) or widened
// (each byte as the character of the same number).

#include <cstddef>
#include <string>
#include <string_view>

namespace vorlink {

// Appends `bytes` decoded: well-formed UTF-8 unchanged (a character beyond
// U+FFFF stays one four-byte sequence), and U+FFFD for each byte that does
// not start a well-formed sequence (a stray continuation byte, a sequence
// cut short, an overlong form, an encoded surrogate, beyond U+10FFFF).
void AppendDecoded(std::string& out, std::string_view bytes);

// Appends each byte as the character U+0000..U+00FF of the same number:
// bytes below 0x80 as themselves, the others as two UTF-8 bytes.
void AppendWidened(std::string& out, std::string_view bytes);

// How many characters AppendDecoded shows for `bytes` (a byte that is not
// UTF-8 counts as one).
std::size_t DecodedLength(std::string_view bytes);

}  // namespace vorlink
