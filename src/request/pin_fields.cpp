#include "request/pin_fields.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "text/log_text.h"

namespace vorlink {
namespace {

// Names are compared by at most this many letters and digits; a longer one
// names nothing of interest.
constexpr std::size_t kNameRoom = 16;

// A name reduced to its ASCII letters and digits, lower case.
class LooseName {
 public:
  void Add(unsigned char c) {
    if (!std::isalnum(c)) return;
    if (size_ == kNameRoom) {
      overflow_ = true;
      return;
    }
    text_[size_++] = static_cast<char>(std::tolower(c));
  }
  std::string_view View() const { return {text_.data(), size_}; }
  bool Overflow() const { return overflow_; }

 private:
  std::array<char, kNameRoom> text_{};
  std::size_t size_ = 0;
  bool overflow_ = false;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The number that the first `count` bytes of `s` spell in hex, or -1.
int Hex(std::string_view s, std::size_t count) {
  if (s.size() < count) return -1;
  int value = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const int digit = HexDigit(s[k]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

// One character of raw query text as the server library's URL decoding
// reads it ("+" as a space, "%XX", "%uXXXX"), and the raw bytes it takes.
struct Decoded {
  unsigned code;
  std::size_t length;
};

Decoded DecodeAt(std::string_view raw, std::size_t i) {
  if (raw[i] == '+') return {' ', 1};
  if (raw[i] == '%') {
    const std::string_view rest = raw.substr(i + 1);
    if (const int unit = rest.starts_with('u') ? Hex(rest.substr(1), 4) : -1; unit >= 0) {
      return {static_cast<unsigned>(unit), 6};
    }
    if (const int byte = Hex(rest, 2); byte >= 0) return {static_cast<unsigned>(byte), 3};
  }
  return {static_cast<unsigned char>(raw[i]), 1};
}

// `raw` reduced to a loose name, decoded first unless it is decoded already.
LooseName Loosely(std::string_view raw, bool decode) {
  LooseName name;
  for (std::size_t i = 0; i < raw.size() && !name.Overflow();) {
    const Decoded d = decode ? DecodeAt(raw, i) : Decoded{static_cast<unsigned char>(raw[i]), 1};
    if (d.code < 0x80) name.Add(static_cast<unsigned char>(d.code));
    i += d.length;
  }
  return name;
}

// The slot 1..9 a loose key "param<number>" names, or 0.
int LooseSlot(const LooseName& key) {
  const std::string_view name = key.View();
  if (key.Overflow() || !name.starts_with("param") || name.size() == 5) return 0;
  int slot = 0;
  for (const char c : name.substr(5)) {
    if (c < '0' || c > '9') return 0;
    slot = std::min(slot * 10 + (c - '0'), 100);
  }
  return slot >= 1 && slot <= 9 ? slot : 0;
}

PinSlots LoosePinSlots(const LooseName& method) {
  const std::string_view name = method.View();
  if (name.starts_with("login")) return PinSlots().set(1);
  if (name.starts_with("changepin") || name.starts_with("initslot")) return PinSlots().set(1).set(2);
  return {};
}

// One field of a raw query text as the loose reading splits it: from
// `begin` to `end`, where a "&" or ";" (raw or percent-encoded) follows;
// its key ends at the first "=" (raw or encoded), at `equals`, and its value
// starts at `value` (both npos when it has none).
struct RawField {
  std::size_t begin, equals, value, end;
  bool HasValue() const { return equals != std::string_view::npos; }
};

template <typename Visit>
void ForEachField(std::string_view text, Visit visit) {
  RawField field{0, std::string_view::npos, std::string_view::npos, 0};
  for (std::size_t i = 0;;) {
    if (i == text.size()) {
      field.end = i;
      visit(field);
      return;
    }
    const Decoded d = DecodeAt(text, i);
    if (d.code == '&' || d.code == ';') {
      field.end = i;
      visit(field);
      field = {i + d.length, std::string_view::npos, std::string_view::npos, 0};
    } else if (d.code == '=' && !field.HasValue()) {
      field.equals = i;
      field.value = i + d.length;
    }
    i += d.length;
  }
}

std::string_view KeyOf(std::string_view text, const RawField& f) {
  return text.substr(f.begin, (f.HasValue() ? f.equals : f.end) - f.begin);
}

std::string_view ValueOf(std::string_view text, const RawField& f) {
  return f.HasValue() ? text.substr(f.value, f.end - f.value) : std::string_view();
}

// The parameter the server library makes of one "&"-piece, if any.
httplib::Params LibraryParams(std::string_view piece) {
  httplib::Params params;
  httplib::detail::parse_query_text(std::string(piece), params);
  return params;
}

}  // namespace

PinSlots PinSlotsOf(std::string_view method) { return LoosePinSlots(Loosely(method, false)); }

std::size_t PinStarCount(std::string_view value) { return DecodedLength(value); }

PinMask::PinMask(const httplib::Request& request) {
  const std::size_t question = request.target.find('?');
  const std::string_view query =
      question == std::string::npos ? std::string_view() : std::string_view(request.target).substr(question + 1);
  for (const auto& [key, value] : request.params) {
    if (Loosely(key, false).View() == "execmethod") pins_ |= PinSlotsOf(value);
  }
  for (const std::string_view text : {query, std::string_view(request.body)}) {
    ForEachField(text, [&](const RawField& f) {
      if (f.HasValue() && Loosely(KeyOf(text, f), true).View() == "execmethod") {
        pins_ |= LoosePinSlots(Loosely(ValueOf(text, f), true));
      }
    });
  }
  if (pins_.none() || request.params.empty()) return;  // no parameter lines to hide
  Collect(query);
  Collect(request.body);
}

bool PinMask::IsPinKey(std::string_view raw_key) const {
  const int slot = LooseSlot(Loosely(raw_key, true));
  return slot > 0 && pins_.test(static_cast<std::size_t>(slot));
}

// Notes what the library makes of each "&"-piece of `text` that holds a PIN
// field, so that its parameter line hides the value whatever its key.
void PinMask::Collect(std::string_view text) {
  std::size_t piece_begin = 0;
  bool holds_pin = false;
  ForEachField(text, [&](const RawField& f) {
    holds_pin = holds_pin || (f.HasValue() && IsPinKey(KeyOf(text, f)));
    if (f.end < text.size() && text[f.end] != '&') return;  // the library's pieces end at a raw "&" only
    if (holds_pin) {
      for (auto& param : LibraryParams(text.substr(piece_begin, f.end - piece_begin))) hidden_params_.insert(param);
    }
    piece_begin = f.end + 1;
    holds_pin = false;
  });
}

bool PinMask::Hides(const std::string& key, const std::string& value) const {
  if (pins_.none()) return false;
  const int slot = LooseSlot(Loosely(key, false));
  return (slot > 0 && pins_.test(static_cast<std::size_t>(slot))) || hidden_params_.contains({key, value});
}

std::string PinMask::Masked(std::string_view text, std::size_t limit) const {
  limit = std::min(limit, text.size());
  if (pins_.none()) return std::string(text.substr(0, limit));
  std::string out;
  std::size_t shown = 0;  // bytes of `text` already in `out`
  ForEachField(text, [&](const RawField& f) {
    if (!f.HasValue() || f.value >= limit || !IsPinKey(KeyOf(text, f))) return;
    // Everything after the first "=" is hidden: one star per character it
    // decodes to, up to the cut.
    const std::string value = httplib::detail::decode_url(std::string(ValueOf(text, f)), true);
    out.append(text.substr(shown, f.value - shown));
    out.append(std::min(PinStarCount(value), limit - f.value), '*');
    shown = std::min(f.end, limit);
  });
  out.append(text.substr(shown, limit - shown));
  return out;
}

}  // namespace vorlink
