#include "request/pin_fields.h"

#include <httplib.h>

#include <algorithm>
#include <vector>

#include "request/field_parser.h"
#include "text/log_text.h"

namespace vorlink {
namespace {

// One "&"-separated piece of a query text: where it lies and what the
// library decodes it to.
struct RawField {
  std::size_t begin, end;
  std::string key, value;
};

std::vector<RawField> SplitQueryText(std::string_view text) {
  std::vector<RawField> fields;
  for (std::size_t begin = 0; begin <= text.size();) {
    std::size_t end = text.find('&', begin);
    if (end == std::string_view::npos) end = text.size();
    httplib::Params decoded;
    httplib::detail::parse_query_text(std::string(text.substr(begin, end - begin)), decoded);
    for (auto& [key, value] : decoded) fields.push_back({begin, end, key, value});
    begin = end + 1;
  }
  return fields;
}

FieldMap ToFieldMap(const std::vector<RawField>& raw) {
  FieldMap fields;
  for (const auto& field : raw) fields.emplace(field.key, field.value);
  return fields;
}

}  // namespace

PinSlots PinSlotsOf(std::string_view method) {
  if (method == "Login") return PinSlots().set(1);
  if (method == "ChangePIN" || method == "initSlot") return PinSlots().set(1).set(2);
  return {};
}

PinSlots PinSlotsOf(const FieldMap& fields) {
  PinSlots pins;
  const auto [first, last] = fields.equal_range("ExecMethod");
  for (auto it = first; it != last; ++it) pins |= PinSlotsOf(it->second);
  return pins;
}

bool IsPinField(std::string_view key, const PinSlots& pins) {
  const int slot = ArgumentSlot(key);
  return slot > 0 && pins.test(static_cast<std::size_t>(slot));
}

std::size_t PinStarCount(std::string_view value) {
  std::size_t count = 0;
  for (char16_t unit : ToLogText(value)) count += (unit & 0xFC00) != 0xDC00;  // a surrogate pair is one
  return count;
}

std::string MaskPinsInQueryText(std::string_view text, std::size_t limit) {
  limit = std::min(limit, text.size());
  const std::vector<RawField> raw = SplitQueryText(text);
  const PinSlots pins = PinSlotsOf(ToFieldMap(raw));
  std::string out;
  std::size_t shown = 0;  // bytes of `text` already in `out`
  for (const auto& field : raw) {
    if (field.begin >= limit) break;
    if (!IsPinField(field.key, pins)) continue;
    // Everything after the first "=" of the piece is hidden, whatever the
    // library made of it.
    const std::size_t value_begin = text.find('=', field.begin) + 1;
    if (value_begin == 0 || value_begin > field.end || value_begin >= limit) continue;
    out.append(text.substr(shown, value_begin - shown));
    out.append(PinStarCount(field.value), '*');
    shown = std::min(field.end, limit);
  }
  out.append(text.substr(shown, limit - shown));
  return out;
}

}  // namespace vorlink
