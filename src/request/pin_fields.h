#pragma once
// Which form fields carry a PIN: Param1 of Login, Param1 and Param2 of
// ChangePIN and initSlot. Traces show those values as stars so that no PIN
// reaches the log file or the viewer.
//
// A page may spell a call in ways the dispatch would not run ("login",
// "LOGIN", "Login%00", "Param1+", fields joined by ";"), and the value is
// still the PIN the user typed. So a request is read loosely, and whatever
// any reading takes for a PIN is hidden:
// - names are compared by their ASCII letters and digits only, in any case,
//   after the percent-decoding of the server library ("Exec Method",
//   "param%31" and "PARAM1\0" all count);
// - a method counts when it begins with "login", "changepin" or "initslot"
//   so read (no other member name does);
// - fields are split at "&" and at ";", and a key ends at the first "=",
//   each also when percent-encoded; the field's value is everything after
//   that "=" and shows as one star per character it decodes to;
// - the method may be named in the query, the body or the decoded
//   parameters, anywhere and more than once: every naming counts.

#include <httplib.h>

#include <bitset>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "component/argument_array.h"

namespace vorlink {

using PinSlots = std::bitset<kArgumentSlots>;

// The argument slots that carry a PIN when `method` (decoded) is called.
PinSlots PinSlotsOf(std::string_view method);

// How many stars stand for `value`: its characters once decoded from
// UTF-8 (a byte that is not UTF-8 counts as one, as the trace would show
// it), so the length shows and the digits do not.
std::size_t PinStarCount(std::string_view value);

// The PIN values of one request.
class PinMask {
 public:
  explicit PinMask(const httplib::Request& request);

  // Whether the parameter the server library decoded as `key` = `value`
  // may hold a PIN: its key names a PIN slot, or the library made it from
  // a piece of the query or body that holds a PIN field.
  bool Hides(const std::string& key, const std::string& value) const;

  // A raw query text of the request (its body) with every PIN value
  // replaced by its stars, cut after the first `limit` bytes of `text`.
  std::string Masked(std::string_view text, std::size_t limit) const;

 private:
  void Collect(std::string_view text);
  bool IsPinKey(std::string_view raw_key) const;

  PinSlots pins_;
  std::set<std::pair<std::string, std::string>> hidden_params_;
};

}  // namespace vorlink
