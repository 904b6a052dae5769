#pragma once
// Which form fields carry a PIN: Param1 of Login, Param1 and Param2 of
// ChangePIN and initSlot. Traces and log lines show those values as stars
// so that no PIN reaches the log file or the viewer.

#include <bitset>
#include <string>
#include <string_view>

#include "component/argument_array.h"
#include "request/field_map.h"

namespace vorlink {

using PinSlots = std::bitset<kArgumentSlots>;

// The argument slots that carry a PIN when `method` is called.
PinSlots PinSlotsOf(std::string_view method);

// The argument slots to hide for a whole request: the union over every
// ExecMethod field, not only the one the dispatch uses (the last), so that
// a repeated or reordered ExecMethod cannot uncover a PIN.
PinSlots PinSlotsOf(const FieldMap& fields);

// Whether `key` names a slot in `pins` ("Param1".."Param9").
bool IsPinField(std::string_view key, const PinSlots& pins);

// How many stars stand for `value`: its characters once decoded from
// UTF-8 (code points; a byte that is not UTF-8 counts as one, as the trace
// would show it), so the length shows and the digits do not.
std::size_t PinStarCount(std::string_view value);

// A query text (a body posted as plain text) with the value of every PIN
// field replaced by its stars, cut after the first `limit` bytes of `text`.
// Fields are found the way the server library splits and decodes them, and
// the PIN fields are judged over the whole text, however long.
std::string MaskPinsInQueryText(std::string_view text, std::size_t limit);

}  // namespace vorlink
