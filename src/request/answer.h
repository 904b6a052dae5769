#pragma once
// The answer text: "||" code "||" value "||", sent as the whole UTF-8 body.
// Code 0 means the operation ran, -1 that it did not.

#include <cstdint>
#include <string>
#include <string_view>

namespace vorlink {

inline constexpr std::int32_t kCodeRan = 0;
inline constexpr std::int32_t kCodeNotRun = -1;

std::string TextAnswer(std::int32_t code, std::u16string_view text);
std::string NumberAnswer(std::int32_t code, std::int32_t value);
std::string UnsignedAnswer(std::int32_t code, std::uint32_t value);
// The double truncated toward zero; out of the 32-bit range or NaN gives
// -2147483648.
std::string SizeAnswer(std::int32_t code, double value);
std::string TokenAnswer(std::int32_t token);

// Truncation used by SizeAnswer, exposed for the component bridge.
std::int32_t TruncateSize(double value);

}  // namespace vorlink
