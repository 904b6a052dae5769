#pragma once
// The argument array of a method call: slot 0 the method name, slots 1 to 9
// Param1 to Param9, all UTF-16.

#include <array>
#include <string>

namespace vorlink {

inline constexpr std::size_t kArgumentSlots = 10;
using ArgumentArray = std::array<std::u16string, kArgumentSlots>;

}  // namespace vorlink
