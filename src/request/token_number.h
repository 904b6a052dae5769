#pragma once
// DllToken numbers: how a page's DLLToken field is read, and how a new
// token is drawn.

#include <cstdint>
#include <string_view>

namespace vorlink {

// The DLLToken field read the way strtol reads base 10 (leading white
// space, a sign, digits, the rest ignored), clamped to 32 bits; 0 when it
// has no digits.
std::int32_t ParseTokenField(std::string_view raw);

// A number in 0..16777215 from a cryptographic random source, so a page
// cannot guess another page's token. Aborts when no randomness is to be had.
std::int32_t DrawTokenNumber();

}  // namespace vorlink
